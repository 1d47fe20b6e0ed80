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
#include "tests/tcp_listener.h"

namespace {

using Status = ASync::Connect::Status;

using testkit::closedPort;
using testkit::fillBacklog;
using testkit::Listener;

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
