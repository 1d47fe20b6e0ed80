#pragma once
// A framed link listening on a Unix-domain socket path, serving one peer at
// a time like AcceptorNet: the path is removed before binding, a failed bind
// is retried every 5000 ms, further connections are closed at once while one
// is served. Connections are named by their socket path.
#include <cstdint>
#include <string>

#include "control/control_service.h"
#include "runtime/event.h"
#include "runtime/fd.h"
#include "runtime/timer.h"

namespace Control {

class AcceptorUnix : public ServiceUnix {
 public:
  AcceptorUnix();
  explicit AcceptorUnix(const std::string& path);
  ~AcceptorUnix() override;

  const std::string& path() const { return path_; }
  bool listening() const { return listen_event_.fd().valid(); }

 protected:
  bool ImplActivate() override;
  void ImplDeactivate() override;
  void ImplOnDisconnect() override;

 private:
  void BindSocket();
  void OnBindRetry(Timer*);
  void OnSocketEvent(int fd, short revents);

  std::string path_;
  Fd listen_fd_;
  Timer bind_retry_;
  Event listen_event_;
};

}  // namespace Control
