#include "control/connector_unix.h"

#include <errno.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <cstring>
#include <iostream>

#include "control/unix_address.h"

namespace Control {

namespace {

constexpr std::int32_t fast_retries = 7;
constexpr unsigned fast_retry_ms = 1000;
constexpr unsigned refused_retry_ms = 20000;
constexpr unsigned hangup_retry_ms = 15000;
constexpr unsigned lost_retry_ms = 10000;

}  // namespace

ConnectorUnix::ConnectorUnix() : ConnectorUnix(std::string(), std::string()) {}

ConnectorUnix::ConnectorUnix(const std::string& path) : ConnectorUnix(path, std::string()) {}

ConnectorUnix::ConnectorUnix(const std::string& path, const std::string& localPath)
    : ServiceUnix(true), path_(path), local_path_(localPath) {
  connect_event_.Bind("ConnectorUnix::OnSocketEvent", &ConnectorUnix::OnSocketEvent, this);
}

ConnectorUnix::~ConnectorUnix() = default;

bool ConnectorUnix::ImplActivate() {
  budget_ = fast_retries;
  TryConnect();
  return true;
}

void ConnectorUnix::TryConnect() {
  sock_.reset(::socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0));
  if (!sock_.valid()) {
    std::cerr << "can't create domain socket:" << std::strerror(errno) << std::endl;
    Deactivate();
    return;
  }
  if (!sock_.NonBlock()) {
    std::cerr << "can't set domain socket to non block mode: " << std::strerror(errno) << std::endl;
    Deactivate();
    return;
  }
  if (!local_path_.empty()) {
    ::unlink(local_path_.c_str());
    const sockaddr_un local = UnixAddress(local_path_);
    if (::bind(sock_.get(), reinterpret_cast<const sockaddr*>(&local), sizeof local) != 0) {
      std::cerr << "can't bind to domain socket '" << local_path_ << "': \"" << std::strerror(errno) << std::endl;
      sock_.close();
      Retry(refused_retry_ms);
      return;
    }
  }
  const sockaddr_un a = UnixAddress(path_);
  if (::connect(sock_.get(), reinterpret_cast<const sockaddr*>(&a), sizeof a) != 0) {
    std::cerr << "can't connect to " << path_ << " : " << std::strerror(errno) << std::endl;
    sock_.close();
    Retry(refused_retry_ms);
    return;
  }
  std::clog << "connected to " << path_ << std::endl;
  connect_event_.Schedule(sock_, POLLOUT);
  Connected(sock_, path_);
}

void ConnectorUnix::Retry(unsigned slow_ms) {
  unsigned ms = slow_ms;
  if (budget_ > 0) {
    --budget_;
    ms = fast_retry_ms;
  }
  retry_.set(ms, &ConnectorUnix::OnRetry, this);
}

void ConnectorUnix::OnRetry(Timer*) { TryConnect(); }

void ConnectorUnix::OnSocketEvent(int, short revents) {
  if (revents & (POLLERR | POLLHUP)) {
    std::cerr << "fail to connect to " << path_ << std::endl;
    connect_event_.Release();
    sock_.close();
    // A link that came up hears of the failure through its own stack.
    if (state() != State::Connected) Retry(hangup_retry_ms);
    return;
  }
  if (revents & POLLOUT) {
    connect_event_.Release();
    sock_.close();
  }
}

void ConnectorUnix::ImplOnDisconnect() { retry_.set(lost_retry_ms, &ConnectorUnix::OnRetry, this); }

void ConnectorUnix::ImplDeactivate() {
  Release();
  sock_.close();
  retry_.reset();
  connect_event_.Release();
}

}  // namespace Control
