#pragma once
// A framed link listening on a Unix-domain socket path, serving one peer at
// a time like AcceptorNet: the path is removed before binding, a failed bind
// is retried every 5000 ms, further connections are closed at once while one
// is served. Connections are named by their socket path.
#include <string>

#include "control/control_service.h"
#include "control/listener.h"

namespace Control {

class AcceptorUnix : public ServiceUnix, private Listener::Owner {
 public:
  AcceptorUnix();
  explicit AcceptorUnix(const std::string& path);
  ~AcceptorUnix() override;

  const std::string& path() const { return path_; }
  bool listening() const { return listener_.listening(); }

 protected:
  bool ImplActivate() override;
  void ImplDeactivate() override;
  void ImplOnDisconnect() override;

 private:
  void OnListenFailure() override;
  void OnAccept(Fd conn, const sockaddr_storage& peer, socklen_t length) override;
  bool Accepting() const override;

  std::string path_;
  Listener listener_;
};

}  // namespace Control
