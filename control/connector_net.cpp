#include "control/connector_net.h"

#include <arpa/inet.h>
#include <errno.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>

#include <cstring>
#include <iostream>

namespace Control {

ConnectorNet::ConnectorNet() : ServiceNet(true), retry_([this] { TryConnect(); }) {
  connect_event_.Bind("ConnectorNet::OnSocketEvent", &ConnectorNet::OnSocketEvent, this);
}

ConnectorNet::ConnectorNet(const std::string& address) : ConnectorNet() {
  INet4::Addr a;
  int port = -1;
  a.Assign(address, &port);
  host_ = a.GetString();
  host_ = host_.substr(0, host_.find(':'));
  port_ = a.port();
}

ConnectorNet::ConnectorNet(const std::string& host, unsigned short port) : ConnectorNet() {
  host_ = host;
  port_ = port;
}

ConnectorNet::~ConnectorNet() = default;

std::string ConnectorNet::address() const { return host_ + ":" + std::to_string(port_); }

bool ConnectorNet::ImplActivate() {
  retry_.Refill();
  TryConnect();
  return true;
}

void ConnectorNet::TryConnect() {
  if (!OpenConnectSocket(sock_, AF_INET, IPPROTO_TCP, "socket")) {
    Deactivate();
    return;
  }
  const sockaddr_in a = target();
  if (::connect(sock_.get(), reinterpret_cast<const sockaddr*>(&a), sizeof a) == 0) {
    std::clog << "already connected to " << address() << std::endl;
    Handover();
    return;
  }
  if (errno == EINPROGRESS) {
    connect_event_.Schedule(sock_, POLLOUT);
    return;
  }
  std::cerr << "can't connect to " << address() << " : " << std::strerror(errno) << std::endl;
  sock_.close();
  retry_.After(ConnectRetry::refused_ms);
}

sockaddr_in ConnectorNet::target() const {
  sockaddr_in a{};
  a.sin_family = AF_INET;
  a.sin_port = htons(port_);
  ::inet_aton(host_.c_str(), &a.sin_addr);
  return a;
}

void ConnectorNet::Handover() {
  const Fd conn(sock_);
  sock_.close();
  Connected(conn, INet4::Addr(target()));
}

void ConnectorNet::OnSocketEvent(int, short revents) {
  if (revents & (POLLERR | POLLHUP)) {
    std::cerr << "fail to connect to " << address() << std::endl;
    connect_event_.Release();
    sock_.close();
    retry_.After(ConnectRetry::hangup_ms);
    return;
  }
  if (!(revents & POLLOUT)) return;
  connect_event_.Release();
  int pending = 0;
  socklen_t len = sizeof pending;
  if (::getsockopt(sock_.get(), SOL_SOCKET, SO_ERROR, &pending, &len) != 0) {
    std::cerr << "getsockopt(SOL_SOCKET,SO_ERROR) fail: " << std::strerror(errno) << std::endl;
    Deactivate();
    return;
  }
  if (pending == 0) {
    std::cout << "connected to " << address() << "." << std::endl;
    Handover();
    return;
  }
  std::cerr << "fail to connect to " << address() << std::endl;
  sock_.close();
  retry_.After(ConnectRetry::error_ms);
}

void ConnectorNet::ImplOnDisconnect() { retry_.AfterLoss(); }

void ConnectorNet::ImplDeactivate() {
  Release();
  sock_.close();
  retry_.Cancel();
  connect_event_.Release();
}

}  // namespace Control
