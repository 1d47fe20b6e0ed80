#pragma once
// A framed link connecting to a Unix-domain socket path, with the retry
// schedule of ConnectorNet: 1000 ms up to 7 times, then 20000 ms (15000 ms
// after a hang-up), and 10000 ms after a lost connection. The connect itself
// completes at once or fails.
#include <cstdint>
#include <string>

#include "control/control_service.h"
#include "runtime/event.h"
#include "runtime/fd.h"
#include "runtime/timer.h"

namespace Control {

class ConnectorUnix : public ServiceUnix {
 public:
  ConnectorUnix();
  explicit ConnectorUnix(const std::string& path);
  // With a local path, the connector binds its own end there first.
  ConnectorUnix(const std::string& path, const std::string& localPath);
  ~ConnectorUnix() override;

  int retry_budget() const { return budget_; }

 protected:
  bool ImplActivate() override;
  void ImplDeactivate() override;
  void ImplOnDisconnect() override;

 private:
  void TryConnect();
  void OnRetry(Timer*);
  void OnSocketEvent(int fd, short revents);
  void Retry(unsigned slow_ms);

  std::string path_;
  std::string local_path_;
  Fd sock_;
  Timer retry_;
  Event connect_event_;
  std::int32_t budget_ = 0;
};

}  // namespace Control
