#pragma once
// An outgoing TCP link that keeps itself connected: a failed attempt is
// retried after 1000 ms up to 7 times, then after 20000 ms (15000 ms when
// the failure showed as a hang-up, 12000 ms when as a pending socket
// error); a lost connection is tried again after 10000 ms. Its lines are
// written whatever the log flag.
#include <netinet/in.h>

#include <cstdint>
#include <string>

#include "control/connect_retry.h"
#include "control/control_service.h"
#include "runtime/event.h"
#include "runtime/fd.h"

namespace Control {

class ConnectorNet : public ServiceNet {
 public:
  ConnectorNet();
  // "a.b.c.d:port".
  explicit ConnectorNet(const std::string& address);
  ConnectorNet(const std::string& host, unsigned short port);
  ~ConnectorNet() override;

  const std::string& host() const { return host_; }
  unsigned short port() const { return port_; }
  int retry_budget() const { return retry_.budget(); }

 protected:
  bool ImplActivate() override;
  void ImplDeactivate() override;
  void ImplOnDisconnect() override;

 private:
  void TryConnect();
  void OnSocketEvent(int fd, short revents);
  void Handover();
  std::string address() const;
  sockaddr_in target() const;

  std::uint16_t port_ = 0;
  std::string host_;
  Fd sock_;
  ConnectRetry retry_;
  Event connect_event_;
};

}  // namespace Control
