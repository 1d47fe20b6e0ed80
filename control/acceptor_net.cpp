#include "control/acceptor_net.h"

#include <errno.h>
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <sys/socket.h>

#include <cstring>
#include <iostream>

namespace Control {

namespace {

constexpr unsigned check_interval_ms = 1000;
// What the check reads of TCP_INFO: the state and the congestion-avoidance
// state are its first two octets.
constexpr socklen_t tcp_info_length = 92;

}  // namespace

AcceptorNet::AcceptorNet() : AcceptorNet(0, true) {}

AcceptorNet::AcceptorNet(int port) : AcceptorNet(port, true) {}

AcceptorNet::AcceptorNet(int port, bool log)
    : ServiceNet(log),
      port_(static_cast<std::uint16_t>(port)),
      listener_(this, "AcceptorNet::OnSocketEvent", "socket", log) {}

AcceptorNet::~AcceptorNet() = default;

bool AcceptorNet::ImplActivate() {
  if (!listener_.Open(AF_INET, IPPROTO_TCP)) return false;
  const int on = 1;
  ::setsockopt(listener_.fd(), SOL_SOCKET, SO_REUSEADDR, &on, sizeof on);
  sockaddr_in a{};
  a.sin_family = AF_INET;
  a.sin_addr.s_addr = htonl(INADDR_ANY);
  a.sin_port = htons(port_);
  listener_.Start(reinterpret_cast<const sockaddr*>(&a), sizeof a);
  return true;
}

void AcceptorNet::OnListenFailure() { Deactivate(); }

void AcceptorNet::OnAccept(Fd conn, const sockaddr_storage& sa, socklen_t) {
  const INet4::Addr peer(reinterpret_cast<const sockaddr_in&>(sa));
  if (state() == State::Connected) {
    if (log()) std::cerr << "refuse connection from " << peer << std::endl;
    ImplRefuseConnection();
    return;
  }
  if (!conn.NonBlock()) {
    if (log()) std::cerr << "can't set socket to non block mode: " << std::strerror(errno) << std::endl;
    return;
  }
  if (log()) std::cout << "new connection from " << peer << std::endl;
  Connected(conn, peer);
  if (state() == State::Connected) ImplConnected(conn);
}

bool AcceptorNet::Accepting() const { return state() != State::Deactivating; }

void AcceptorNet::ImplDeactivate() { listener_.Close(); }

void AcceptorNet::ImplOnDisconnect() {}

void AcceptorNet::ImplRefuseConnection() {}

void AcceptorNet::ImplConnected(const Fd&) {}

AcceptorNetCheckConnection::AcceptorNetCheckConnection() : AcceptorNetCheckConnection(0, true) {}

AcceptorNetCheckConnection::AcceptorNetCheckConnection(int port) : AcceptorNetCheckConnection(port, true) {}

AcceptorNetCheckConnection::AcceptorNetCheckConnection(int port, bool log) : AcceptorNet(port, log) {}

AcceptorNetCheckConnection::~AcceptorNetCheckConnection() = default;

bool AcceptorNetCheckConnection::ImplActivate() {
  AcceptorNet::ImplActivate();
  CheckConnection();
  return true;
}

void AcceptorNetCheckConnection::ImplDeactivate() {
  check_timer_.reset();
  AcceptorNet::ImplDeactivate();
}

void AcceptorNetCheckConnection::ImplOnDisconnect() { current_.close(); }

void AcceptorNetCheckConnection::ImplConnected(const Fd& fd) { current_ = fd; }

void AcceptorNetCheckConnection::ImplRefuseConnection() {
  if (check_state_ != Idle) return;
  check_state_ = Checking;
  countdown_ = 2;
  SetupKeepAlive(true);
  if (log()) std::cerr << "CheckConnectionState CheckConnection" << std::endl;
}

void AcceptorNetCheckConnection::SetupKeepAlive(bool fast) {
  const int fd = current_.get();
  const int on = 1;
  const int idle = fast ? 1 : 7200;
  const int interval = fast ? 1 : 75;
  const int count = fast ? 3 : 9;
  ::setsockopt(fd, SOL_SOCKET, SO_KEEPALIVE, &on, sizeof on);
  ::setsockopt(fd, IPPROTO_TCP, TCP_KEEPIDLE, &idle, sizeof idle);
  ::setsockopt(fd, IPPROTO_TCP, TCP_KEEPINTVL, &interval, sizeof interval);
  ::setsockopt(fd, IPPROTO_TCP, TCP_KEEPCNT, &count, sizeof count);
}

void AcceptorNetCheckConnection::CheckConnection() {
  if (state() == State::Connected) {
    bool close = false;
    unsigned char info[tcp_info_length] = {};
    socklen_t len = sizeof info;
    // Only a whole record is read: a shorter answer (an emulator that
    // passes the option on as an int) does not hold the two octets in place.
    if (::getsockopt(current_.get(), IPPROTO_TCP, TCP_INFO, info, &len) == 0 && len == tcp_info_length) {
      if (info[0] != TCP_ESTABLISHED) {
        if (log()) std::cerr << "connection from " << GetName() << " closed: tcp socket change state." << std::endl;
        close = true;
      }
      if (check_state_ == Checking) {
        if (info[1] != 0) {
          if (countdown_ > 0) --countdown_;
          if (countdown_ < 1) {
            if (log())
              std::cerr << "connection from " << GetName() << " closed: tcp socket change ca_state." << std::endl;
            close = true;
          }
        } else {
          check_state_ = Idle;
          SetupKeepAlive(false);
          if (log()) std::cerr << "CheckConnectionState Idle" << std::endl;
        }
      }
    }
    int pending = 0;
    len = sizeof pending;
    if (::getsockopt(current_.get(), SOL_SOCKET, SO_ERROR, &pending, &len) != 0 || pending != 0) {
      const int err = pending != 0 ? pending : errno;
      if (log()) std::cerr << "connection from " << GetName() << " closed: " << std::strerror(err) << std::endl;
      close = true;
    }
    if (close) {
      check_state_ = Idle;
      SetupKeepAlive(false);
      Disconnect();
      if (log()) std::cerr << "CheckConnectionState Idle" << std::endl;
    }
  }
  check_timer_.set(check_interval_ms, &AcceptorNetCheckConnection::OnCheckTimer, this);
}

void AcceptorNetCheckConnection::OnCheckTimer(Timer*) { CheckConnection(); }

}  // namespace Control
