#include "control/acceptor_unix.h"

#include <errno.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <cstring>
#include <iostream>

#include "control/unix_address.h"

namespace Control {

namespace {

constexpr unsigned bind_retry_ms = 5000;

}  // namespace

AcceptorUnix::AcceptorUnix() : AcceptorUnix(std::string()) {}

AcceptorUnix::AcceptorUnix(const std::string& path) : ServiceUnix(true), path_(path) {
  listen_event_.Bind("AcceptorUnix::OnSocketEvent", &AcceptorUnix::OnSocketEvent, this);
}

AcceptorUnix::~AcceptorUnix() = default;

bool AcceptorUnix::ImplActivate() {
  listen_fd_.reset(::socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0));
  if (!listen_fd_.valid()) {
    if (log()) std::cerr << "can't create domain socket:" << std::strerror(errno) << std::endl;
    return false;
  }
  BindSocket();
  return true;
}

void AcceptorUnix::BindSocket() {
  ::unlink(path_.c_str());
  const sockaddr_un a = UnixAddress(path_);
  if (::bind(listen_fd_.get(), reinterpret_cast<const sockaddr*>(&a), sizeof a) != 0) {
    if (log())
      std::cerr << "can't bind to socket: \"" << std::strerror(errno) << "\" "
                << " waiting..." << std::endl;
    bind_retry_.set(bind_retry_ms, &AcceptorUnix::OnBindRetry, this);
    return;
  }
  if (::listen(listen_fd_.get(), 1) != 0) {
    if (log()) std::cerr << "can't listen socket: " << std::strerror(errno) << std::endl;
    Deactivate();
    return;
  }
  if (!NonBlockMode(listen_fd_.get())) {
    if (log()) std::cerr << "can't set domain socket to non block mode: " << std::strerror(errno) << std::endl;
    Deactivate();
    return;
  }
  listen_event_.Schedule(listen_fd_, POLLIN);
}

void AcceptorUnix::OnBindRetry(Timer*) { BindSocket(); }

void AcceptorUnix::OnSocketEvent(int, short revents) {
  if (!(revents & POLLIN)) return;
  for (;;) {
    sockaddr_un sa{};
    socklen_t len = sizeof sa;
    const int fd = ::accept4(listen_fd_.get(), reinterpret_cast<sockaddr*>(&sa), &len, SOCK_CLOEXEC);
    if (fd < 0) break;
    Fd conn(fd);
    // An unbound peer has no name (the kernel gives only the family).
    const std::string peer = len > sizeof(sa_family_t) ? std::string(sa.sun_path) : std::string();
    if (state() != State::Connecting) {
      if (log()) std::cerr << "refuse connection from " << peer << std::endl;
      continue;
    }
    if (!conn.NonBlock()) {
      if (log()) std::cerr << "can't set domain socket to non block mode: " << std::strerror(errno) << std::endl;
      continue;
    }
    if (log()) std::cout << "new connection from " << peer << std::endl;
    Connected(conn, peer);
  }
}

void AcceptorUnix::ImplDeactivate() {
  bind_retry_.reset();
  listen_event_.Release();
  listen_fd_.close();
}

void AcceptorUnix::ImplOnDisconnect() {}

}  // namespace Control
