#pragma once
// Listening TCP links that serve one peer at a time.
//
// AcceptorNet listens on a port (backlog 1; a failed bind is retried every
// 5000 ms for ever) and closes every further connection at once while one
// is being served. AcceptorNetCheckConnection, the controller's link, adds
// a liveness check: a refused knock switches the current connection to fast
// keep-alive, and a check every 1000 ms of its TCP state drops a connection
// that is dead, so that the knocking peer gets in at its next attempt.
#include <cstdint>

#include "control/control_service.h"
#include "control/listener.h"
#include "runtime/fd.h"
#include "runtime/timer.h"

namespace Control {

class AcceptorNet : public ServiceNet, private Listener::Owner {
 public:
  AcceptorNet();
  explicit AcceptorNet(int port);
  AcceptorNet(int port, bool log);
  ~AcceptorNet() override;

  unsigned short port() const { return port_; }
  bool listening() const { return listener_.listening(); }

 protected:
  bool ImplActivate() override;
  void ImplDeactivate() override;
  void ImplOnDisconnect() override;
  virtual void ImplRefuseConnection();
  // A duplicate of the socket of the connection just taken.
  virtual void ImplConnected(const Fd& fd);

 private:
  void OnListenFailure() override;
  void OnAccept(Fd conn, const sockaddr_storage& peer, socklen_t length) override;
  bool Accepting() const override;

  std::uint16_t port_;
  Listener listener_;
};

class AcceptorNetCheckConnection : public AcceptorNet {
 public:
  // Idle: normal keep-alive; Checking: a knock was refused, the current
  // connection is on fast keep-alive and judged at every check.
  enum CheckState { Idle = 0, Checking = 1 };

  AcceptorNetCheckConnection();
  explicit AcceptorNetCheckConnection(int port);
  AcceptorNetCheckConnection(int port, bool log);
  ~AcceptorNetCheckConnection() override;

  CheckState check_state() const { return check_state_; }
  // The descriptor kept for the check (-1 when none).
  int checked_fd() const { return current_.get(); }

 protected:
  bool ImplActivate() override;
  void ImplDeactivate() override;
  // The kept duplicate goes with the link, so the peer sees its connection
  // end when the link ends, not when the next peer is accepted.
  void ImplOnDisconnect() override;
  void ImplRefuseConnection() override;
  void ImplConnected(const Fd& fd) override;

 private:
  void SetupKeepAlive(bool fast);
  // Runs at activation and then every 1000 ms while the link is active.
  void CheckConnection();
  void OnCheckTimer(Timer*);

  Timer check_timer_;
  Fd current_;
  CheckState check_state_ = Idle;
  std::int32_t countdown_ = 0;
};

}  // namespace Control
