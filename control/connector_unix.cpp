#include "control/connector_unix.h"

#include <errno.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <cstring>
#include <iostream>

#include "control/unix_address.h"

namespace Control {

ConnectorUnix::ConnectorUnix() : ConnectorUnix(std::string(), std::string()) {}

ConnectorUnix::ConnectorUnix(const std::string& path) : ConnectorUnix(path, std::string()) {}

ConnectorUnix::ConnectorUnix(const std::string& path, const std::string& localPath)
    : ServiceUnix(true), path_(path), local_path_(localPath), retry_([this] { TryConnect(); }) {
  connect_event_.Bind("ConnectorUnix::OnSocketEvent", &ConnectorUnix::OnSocketEvent, this);
}

ConnectorUnix::~ConnectorUnix() = default;

bool ConnectorUnix::ImplActivate() {
  retry_.Refill();
  TryConnect();
  return true;
}

void ConnectorUnix::TryConnect() {
  if (!OpenConnectSocket(sock_, AF_UNIX, 0, "domain socket")) {
    Deactivate();
    return;
  }
  if (!local_path_.empty()) {
    ::unlink(local_path_.c_str());
    const sockaddr_un local = UnixAddress(local_path_);
    if (::bind(sock_.get(), reinterpret_cast<const sockaddr*>(&local), sizeof local) != 0) {
      std::cerr << "can't bind to domain socket '" << local_path_ << "': \"" << std::strerror(errno) << std::endl;
      sock_.close();
      retry_.After(ConnectRetry::refused_ms);
      return;
    }
  }
  const sockaddr_un a = UnixAddress(path_);
  if (::connect(sock_.get(), reinterpret_cast<const sockaddr*>(&a), sizeof a) != 0) {
    std::cerr << "can't connect to " << path_ << " : " << std::strerror(errno) << std::endl;
    sock_.close();
    retry_.After(ConnectRetry::refused_ms);
    return;
  }
  std::clog << "connected to " << path_ << std::endl;
  connect_event_.Schedule(sock_, POLLOUT);
  Connected(sock_, path_);
}

void ConnectorUnix::OnSocketEvent(int, short revents) {
  if (revents & (POLLERR | POLLHUP)) {
    std::cerr << "fail to connect to " << path_ << std::endl;
    connect_event_.Release();
    sock_.close();
    // A link that came up hears of the failure through its own stack.
    if (state() != State::Connected) retry_.After(ConnectRetry::hangup_ms);
    return;
  }
  if (revents & POLLOUT) {
    connect_event_.Release();
    sock_.close();
  }
}

void ConnectorUnix::ImplOnDisconnect() { retry_.AfterLoss(); }

void ConnectorUnix::ImplDeactivate() {
  Release();
  sock_.close();
  retry_.Cancel();
  connect_event_.Release();
}

}  // namespace Control
