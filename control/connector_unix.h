#pragma once
// A framed link connecting to a Unix-domain socket path, with the retry
// schedule of ConnectorNet: 1000 ms up to 7 times, then 20000 ms (15000 ms
// after a hang-up), and 10000 ms after a lost connection. The connect itself
// completes at once or fails.
#include <string>

#include "control/connect_retry.h"
#include "control/control_service.h"
#include "runtime/event.h"
#include "runtime/fd.h"

namespace Control {

class ConnectorUnix : public ServiceUnix {
 public:
  ConnectorUnix();
  explicit ConnectorUnix(const std::string& path);
  // With a local path, the connector binds its own end there first.
  ConnectorUnix(const std::string& path, const std::string& localPath);
  ~ConnectorUnix() override;

  int retry_budget() const { return retry_.budget(); }

 protected:
  bool ImplActivate() override;
  void ImplDeactivate() override;
  void ImplOnDisconnect() override;

 private:
  void TryConnect();
  void OnSocketEvent(int fd, short revents);

  std::string path_;
  std::string local_path_;
  Fd sock_;
  ConnectRetry retry_;
  Event connect_event_;
};

}  // namespace Control
