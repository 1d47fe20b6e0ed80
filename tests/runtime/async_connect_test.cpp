#include "runtime/async_connect.h"

#include <arpa/inet.h>
#include <errno.h>
#include <fcntl.h>
#include <gtest/gtest.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <memory>
#include <string>
#include <vector>

#include "runtime/test_clock.h"
#include "tests/runtime/run_loop.h"

namespace {

using Status = ASync::Connect::Status;

// A loopback listener on a port of the kernel's choosing.
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
int closedPort() {
  Listener l;
  return l.port;
}

// Connects clients until the listener's queue takes no more: the kernel
// then drops every further connection request, so a connect waits for
// ever. Returns the clients, which keep the queue full.
std::vector<Fd> fillBacklog(const Listener& l) {
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

struct Owner {
  ASync::Connect connect;
  std::vector<Status::Type> calls;
  Fd sock;
  int handedFd = -2;
  Owner() { connect.Bind(&Owner::OnConnect, this); }
  void OnConnect(Status::Type st, Fd fd) {
    calls.push_back(st);
    handedFd = fd.get();
    sock = fd;
  }
};

TEST(AsyncConnect, ListeningLoopbackPortConnectsAndTheOwnerKeepsTheSocket) {
  Listener l;
  Owner owner;
  owner.connect.Start(l.address(), 5000);
  ASSERT_TRUE(runLoopUntil([&] { return !owner.calls.empty(); }));
  EXPECT_EQ(owner.calls, std::vector<Status::Type>{Status::connected});
  EXPECT_EQ(owner.connect.status(), Status::connected);
  EXPECT_FALSE(owner.connect.timing());
  ASSERT_TRUE(owner.sock.valid());
  EXPECT_TRUE(::fcntl(owner.sock.get(), F_GETFD) & FD_CLOEXEC);
  EXPECT_TRUE(runLoopUntil([&] { return l.accept().valid(); }));
}

TEST(AsyncConnect, ClosedPortFails) {
  Owner owner;
  owner.connect.Start("127.0.0.1:" + std::to_string(closedPort()), 5000);
  ASSERT_TRUE(runLoopUntil([&] { return !owner.calls.empty(); }));
  EXPECT_EQ(owner.calls, std::vector<Status::Type>{Status::failed});
  EXPECT_EQ(owner.handedFd, -1);
  EXPECT_FALSE(owner.connect.timing());
}

// A host name does not parse as an address. It must not turn into 0.0.0.0,
// which the kernel would connect to the local listener on that port.
TEST(AsyncConnect, HostNameFailsAtOnceWithoutConnecting) {
  Listener l;
  Owner owner;
  owner.connect.Start("localhost:" + std::to_string(l.port), 5000);
  EXPECT_EQ(owner.calls, std::vector<Status::Type>{Status::failed});
  EXPECT_EQ(owner.handedFd, -1);
  for (int i = 0; i < 5; ++i) multiplexer.run_once(10);
  pollfd p{l.sock.get(), POLLIN, 0};
  EXPECT_EQ(::poll(&p, 1, 100), 0) << "a connection reached the listener";
  EXPECT_FALSE(l.accept().valid());
  EXPECT_EQ(owner.calls.size(), 1u);
}

TEST(AsyncConnect, StopDuringTheWaitEndsWithStoppedAndTheTimerNeverFires) {
  Listener l(0);
  const std::vector<Fd> queued = fillBacklog(l);
  ASSERT_FALSE(queued.empty()) << "could not fill the listen queue";
  Mux::TestClock clock(1000);
  Owner owner;
  owner.connect.Start(l.address(), 3000);
  multiplexer.run_once(0);
  ASSERT_TRUE(owner.calls.empty());
  owner.connect.Stop();
  EXPECT_EQ(owner.calls, std::vector<Status::Type>{Status::stopped});
  EXPECT_FALSE(owner.connect.timing());
  clock.advance(10000);
  multiplexer.run_once(0);
  EXPECT_EQ(owner.calls.size(), 1u);

  // Started again, it times out on the loop clock.
  owner.connect.Start(l.address(), 3000);
  clock.advance(2999);
  EXPECT_EQ(owner.calls.size(), 1u);
  clock.advance(1);
  EXPECT_EQ(owner.calls, (std::vector<Status::Type>{Status::stopped, Status::failed}));
  EXPECT_EQ(owner.handedFd, -1);
}

TEST(AsyncConnect, ConnectorMayBeDestroyedByItsHandler) {
  struct Killer {
    std::unique_ptr<ASync::Connect> connect{new ASync::Connect};
    int calls = 0;
    void OnConnect(Status::Type, Fd) {
      ++calls;
      connect.reset();
    }
  };
  Listener l;
  Killer async, sync;
  async.connect->Bind(&Killer::OnConnect, &async);
  async.connect->Start(l.address(), 5000);
  sync.connect->Bind(&Killer::OnConnect, &sync);
  sync.connect->Start("not an address", 5000);
  EXPECT_EQ(sync.calls, 1);
  ASSERT_TRUE(runLoopUntil([&] { return async.calls > 0; }));
  EXPECT_EQ(async.connect, nullptr);
}

}  // namespace
