#include "runtime/async_copy.h"

#include <errno.h>
#include <fcntl.h>
#include <gtest/gtest.h>
#include <signal.h>
#include <sys/socket.h>
#include <unistd.h>

#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "runtime/event.h"
#include "tests/runtime/run_loop.h"

namespace async_copy_test {  // named: see "Unity builds" in tests/README.md

using Status = ASync::Copy::Status;

// A write to a pipe without a reader must fail with EPIPE, as in the daemon
// (which catches SIGPIPE), not end the test program.
class AsyncCopy : public testing::Test {
 protected:
  void SetUp() override { old_ = ::signal(SIGPIPE, SIG_IGN); }
  void TearDown() override { ::signal(SIGPIPE, old_); }
  sighandler_t old_ = SIG_DFL;
};

struct Owner {
  ASync::Copy copy;
  std::vector<Status::Type> calls;
  Owner() { copy.Bind(&Owner::OnCopy, this); }
  void OnCopy(Status::Type st) { calls.push_back(st); }
};

std::vector<char> pattern(std::size_t n) {
  std::vector<char> v(n);
  for (std::size_t i = 0; i < n; ++i) v[i] = static_cast<char>(i * 7 + i / 251);
  return v;
}

// Feeds a pipe from a buffer whenever it is writable, then closes it.
struct Producer {
  Event ev;
  Fd w;
  const std::vector<char>& data;
  std::size_t at = 0;
  Producer(Fd fd, const std::vector<char>& d) : w(std::move(fd)), data(d) {
    ev.Bind("Producer::OnEvent", &Producer::OnEvent, this);
    ev.Schedule(w, POLLOUT);
  }
  void OnEvent(int, short revents) {
    if (!(revents & POLLOUT)) return;
    const ssize_t n = ::write(w.get(), data.data() + at, data.size() - at);
    if (n > 0) at += static_cast<std::size_t>(n);
    if (at == data.size()) {
      ev.Release();
      w.close();
    }
  }
};

// Drains a pipe into a buffer until its end.
struct Consumer {
  Event ev;
  std::vector<char> got;
  bool ended = false;
  explicit Consumer(const Fd& r) {
    ev.Bind("Consumer::OnEvent", &Consumer::OnEvent, this);
    ev.Schedule(r, POLLIN);
  }
  void OnEvent(int fd, short revents) {
    if (!(revents & (POLLIN | POLLHUP))) return;
    char buf[4096];
    ssize_t n;
    while ((n = ::read(fd, buf, sizeof buf)) > 0) got.insert(got.end(), buf, buf + n);
    if (n == 0) {
      ended = true;
      ev.Release();
    }
  }
};

// A megabyte does not fit in a pipe: the copy only completes when the loop
// keeps serving the producer and the consumer meanwhile.
TEST_F(AsyncCopy, OneMegabyteArrivesIntactWhileTheLoopServesOtherDescriptors) {
  const std::vector<char> data = pattern(1 << 20);
  Pipe in, out;
  Producer producer(std::move(in.w), data);
  Consumer consumer(out.r);

  Owner owner;
  owner.copy.Start(in.r, out.w);
  in.r.close();
  out.w.close();  // the consumer sees the end once the copy closes its own
  ASSERT_TRUE(runLoopUntil([&] { return !owner.calls.empty() && consumer.ended; }));
  EXPECT_EQ(owner.calls, std::vector<Status::Type>{Status::completed});
  EXPECT_EQ(owner.copy.total(), data.size());
  EXPECT_TRUE(consumer.got == data) << consumer.got.size() << " bytes arrived";
}

TEST_F(AsyncCopy, EmptySourceCompletesOnceThroughTheFlushWaitOrAtOnceWithoutIt) {
  {
    Pipe in, out;
    in.w.close();
    Owner owner;
    owner.copy.Start(in.r, out.w);
    EXPECT_EQ(owner.copy.status(), Status::flushing);
    EXPECT_TRUE(owner.calls.empty());
    ASSERT_TRUE(runLoopUntil([&] { return !owner.calls.empty(); }));
    multiplexer.run_once(0);
    EXPECT_EQ(owner.calls, std::vector<Status::Type>{Status::completed});
  }
  {
    Pipe in, out;
    in.w.close();
    Owner owner;
    ASync::Copy::EventsParams events;
    events.flush = 0;
    owner.copy.set_events(events);
    owner.copy.Start(in.r, out.w);
    EXPECT_EQ(owner.calls, std::vector<Status::Type>{Status::completed});  // inside Start
  }
}

TEST_F(AsyncCopy, DestinationHangupEndsWithFailedAndErrorZeroOnce) {
  Pipe in;  // stays open and empty: the copy waits on it
  int sp[2];
  ASSERT_EQ(::socketpair(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC | SOCK_NONBLOCK, 0, sp), 0);
  Fd dst(sp[0]), peer(sp[1]);
  Owner owner;
  owner.copy.Start(in.r, dst);
  EXPECT_EQ(owner.copy.status(), Status::copying);
  peer.close();
  ASSERT_TRUE(runLoopUntil([&] { return !owner.calls.empty(); }));
  ASSERT_EQ(::write(in.w.get(), "late", 4), 4);
  for (int i = 0; i < 3; ++i) multiplexer.run_once(10);
  EXPECT_EQ(owner.calls, std::vector<Status::Type>{Status::failed});
  EXPECT_EQ(owner.copy.error(), 0);
}

TEST_F(AsyncCopy, FailedWriteKeepsItsErrnoAndSourceFailingBeforeAnyDataIsAFailure) {
  {
    Pipe in, out;
    ASSERT_EQ(::write(in.w.get(), "data", 4), 4);
    out.r.close();  // no reader: the write fails with EPIPE
    Owner owner;
    owner.copy.Start(in.r, out.w);
    EXPECT_EQ(owner.calls, std::vector<Status::Type>{Status::failed});
    EXPECT_EQ(owner.copy.error(), EPIPE);
  }
  {
    Fd dir(::open(".", O_RDONLY | O_DIRECTORY | O_CLOEXEC));  // read gives EISDIR
    ASSERT_TRUE(dir.valid());
    Pipe out;
    Owner owner;
    owner.copy.Start(dir, out.w);
    EXPECT_EQ(owner.calls, std::vector<Status::Type>{Status::failed});
    EXPECT_EQ(owner.copy.error(), 0);
    EXPECT_EQ(owner.copy.total(), 0u);
  }
}

// Stop ends the input, but what was read and not yet written still goes out.
TEST_F(AsyncCopy, StopWritesWhatWasReadThenCompletes) {
  Pipe in, out;
  ASSERT_EQ(::fcntl(out.w.get(), F_SETPIPE_SZ, 4096), 4096);
  const std::vector<char> data = pattern(60000);
  ASSERT_EQ(::write(in.w.get(), data.data(), data.size()), static_cast<ssize_t>(data.size()));
  Owner owner;
  owner.copy.set_bufsize(8192);
  owner.copy.Start(in.r, out.w);
  out.w.close();
  EXPECT_EQ(owner.copy.total(), 4096u);  // the output is full, half a buffer waits
  owner.copy.Stop();
  EXPECT_EQ(owner.copy.status(), Status::draining);
  EXPECT_TRUE(owner.calls.empty());

  Consumer consumer(out.r);
  ASSERT_TRUE(runLoopUntil([&] { return !owner.calls.empty() && consumer.ended; }));
  EXPECT_EQ(owner.calls, std::vector<Status::Type>{Status::completed});
  EXPECT_EQ(owner.copy.total(), 8192u);
  ASSERT_EQ(consumer.got.size(), 8192u);
  EXPECT_TRUE(std::equal(consumer.got.begin(), consumer.got.end(), data.begin()));
}

TEST_F(AsyncCopy, ReconfiguringARunningCopyAbortsItAndADestroyedCopierIsNotTouched) {
  Pipe in, out;
  Owner owner;
  owner.copy.Start(in.r, out.w);
  owner.copy.set_bufsize(0);  // no buffer: the next Start makes the usual one
  EXPECT_EQ(owner.calls, std::vector<Status::Type>{Status::reconfigured});
  owner.copy.set_events(ASync::Copy::EventsParams());
  EXPECT_EQ(owner.calls.size(), 1u);  // not running any more

  // A copier may be destroyed by its own handler.
  struct Killer {
    std::unique_ptr<ASync::Copy> copy{new ASync::Copy};
    int calls = 0;
    void OnCopy(Status::Type) {
      ++calls;
      copy.reset();
    }
  } killer;
  killer.copy->Bind(&Killer::OnCopy, &killer);
  killer.copy->Start(in.r, out.w);
  EXPECT_EQ(killer.copy->bufsize(), ASync::Copy::kDefaultBufSize);
  ASSERT_EQ(::write(in.w.get(), "abc", 3), 3);
  in.w.close();
  ASSERT_TRUE(runLoopUntil([&] { return killer.calls > 0; }));
  EXPECT_EQ(killer.copy, nullptr);
}

}  // namespace async_copy_test
