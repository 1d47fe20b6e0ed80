#pragma once
// A loopback TCP listener for tests whose code under test connects out, with
// the two ways a connection can fail to come about: a port nobody listens
// on (refused at once) and a listener whose queue is full (no answer at
// all, until the connector gives up).
#include <arpa/inet.h>
#include <errno.h>
#include <gtest/gtest.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>

#include <string>
#include <vector>

#include "runtime/fd.h"

namespace testkit {

// A non-blocking listener on a port of the kernel's choosing.
struct Listener {
  Fd sock;
  int port = 0;
  explicit Listener(int backlog = 8) {
    sock.reset(::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC | SOCK_NONBLOCK, 0));
    sockaddr_in a{};
    a.sin_family = AF_INET;
    a.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    EXPECT_EQ(::bind(sock.get(), reinterpret_cast<sockaddr*>(&a), sizeof a), 0);
    EXPECT_EQ(::listen(sock.get(), backlog), 0);
    socklen_t len = sizeof a;
    ::getsockname(sock.get(), reinterpret_cast<sockaddr*>(&a), &len);
    port = ntohs(a.sin_port);
  }
  std::string address() const { return "127.0.0.1:" + std::to_string(port); }
  // A connection waiting to be accepted, or an invalid Fd.
  Fd accept() { return Fd(::accept4(sock.get(), nullptr, nullptr, SOCK_CLOEXEC)); }
};

// A port nothing listens on: bound, then closed.
inline int closedPort() {
  Listener l;
  return l.port;
}

// Connects clients until the listener's queue takes no more: the kernel
// then drops every further connection request, so a connect waits for
// ever. Returns the clients, which keep the queue full (none when the
// queue never filled).
inline std::vector<Fd> fillBacklog(const Listener& l) {
  std::vector<Fd> clients;
  sockaddr_in a{};
  a.sin_family = AF_INET;
  a.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  a.sin_port = htons(static_cast<unsigned short>(l.port));
  for (int i = 0; i < 16; ++i) {
    Fd c(::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC | SOCK_NONBLOCK, 0));
    const int rc = ::connect(c.get(), reinterpret_cast<sockaddr*>(&a), sizeof a);
    const int err = errno;
    clients.push_back(std::move(c));
    if (rc == 0) continue;
    if (err != EINPROGRESS) break;
    pollfd p{clients.back().get(), POLLOUT, 0};
    if (::poll(&p, 1, 500) == 0) return clients;  // no answer: full
  }
  clients.clear();
  return clients;
}

}  // namespace testkit
