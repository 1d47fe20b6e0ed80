#include "control/connect_retry.h"

#include <errno.h>
#include <sys/socket.h>

#include <cstring>
#include <iostream>

namespace Control {

namespace {

constexpr std::int32_t fast_retries = 7;
constexpr unsigned fast_retry_ms = 1000;
constexpr unsigned lost_retry_ms = 10000;

}  // namespace

void ConnectRetry::Refill() { budget_ = fast_retries; }

void ConnectRetry::After(unsigned slow_ms) {
  unsigned ms = slow_ms;
  if (budget_ > 0) {
    --budget_;
    ms = fast_retry_ms;
  }
  timer_.set(ms, &ConnectRetry::OnTimer, this);
}

void ConnectRetry::AfterLoss() { timer_.set(lost_retry_ms, &ConnectRetry::OnTimer, this); }

bool OpenConnectSocket(Fd& sock, int domain, int protocol, const char* kind) {
  sock.reset(::socket(domain, SOCK_STREAM | SOCK_CLOEXEC, protocol));
  if (!sock.valid()) {
    std::cerr << "can't create " << kind << ":" << std::strerror(errno) << std::endl;
    return false;
  }
  if (!sock.NonBlock()) {
    std::cerr << "can't set " << kind << " to non block mode: " << std::strerror(errno) << std::endl;
    return false;
  }
  return true;
}

}  // namespace Control
