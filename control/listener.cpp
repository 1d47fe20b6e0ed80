#include "control/listener.h"

#include <errno.h>
#include <poll.h>
#include <unistd.h>

#include <cstring>
#include <iostream>

namespace Control {

namespace {

constexpr unsigned bind_retry_ms = 5000;

}  // namespace

Listener::Listener(Owner* owner, const char* eventName, const char* kind, bool log)
    : owner_(owner), kind_(kind), log_(log) {
  event_.Bind(eventName, &Listener::OnSocketEvent, this);
}

bool Listener::Open(int domain, int protocol) {
  fd_.reset(::socket(domain, SOCK_STREAM | SOCK_CLOEXEC, protocol));
  if (fd_.valid()) return true;
  if (log_) std::cerr << "can't create " << kind_ << ":" << std::strerror(errno) << std::endl;
  return false;
}

void Listener::Start(const sockaddr* address, socklen_t length, const std::string& unlinkPath) {
  std::memcpy(&address_, address, length);
  length_ = length;
  unlink_ = unlinkPath;
  Bind();
}

void Listener::Bind() {
  if (!unlink_.empty()) ::unlink(unlink_.c_str());
  if (::bind(fd_.get(), reinterpret_cast<const sockaddr*>(&address_), length_) != 0) {
    if (log_)
      std::cerr << "can't bind to socket: \"" << std::strerror(errno) << "\" "
                << " waiting..." << std::endl;
    retry_.set(bind_retry_ms, &Listener::OnBindRetry, this);
    return;
  }
  if (::listen(fd_.get(), 1) != 0) {
    if (log_) std::cerr << "can't listen socket: " << std::strerror(errno) << std::endl;
    owner_->OnListenFailure();
    return;
  }
  if (!NonBlockMode(fd_.get())) {
    if (log_) std::cerr << "can't set " << kind_ << " to non block mode: " << std::strerror(errno) << std::endl;
    owner_->OnListenFailure();
    return;
  }
  event_.Schedule(fd_, POLLIN);
}

void Listener::OnBindRetry(Timer*) { Bind(); }

void Listener::OnSocketEvent(int, short revents) {
  if (!(revents & POLLIN)) return;
  while (owner_->Accepting()) {
    sockaddr_storage peer{};
    socklen_t length = sizeof peer;
    const int fd = ::accept4(fd_.get(), reinterpret_cast<sockaddr*>(&peer), &length, SOCK_CLOEXEC);
    if (fd < 0) break;
    owner_->OnAccept(Fd(fd), peer, length);
  }
}

void Listener::Close() {
  retry_.reset();
  event_.Release();
  fd_.close();
}

}  // namespace Control
