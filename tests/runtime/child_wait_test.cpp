#include "runtime/child_wait.h"

#include <errno.h>
#include <fcntl.h>
#include <gtest/gtest.h>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <iostream>
#include <memory>
#include <string>
#include <vector>

#include "runtime/ipc_signal.h"
#include "tests/child_records.h"
#include "tests/e2e/process_scan.h"
#include "tests/runtime/run_loop.h"
#include "tests/deadline.h"
#include "tests/stream_capture.h"

namespace child_wait_test {  // named: see "Unity builds" in tests/README.md

// Activates the service for one test and puts everything back afterwards:
// the handler reaps every child of the process while it is installed.
class ChildWaitTest : public testing::Test {
 protected:
  void SetUp() override {
    ChildWait::Activate();
    ASSERT_NE(ChildWaitService::childWaitService, nullptr);
    ASSERT_TRUE(ChildWaitService::childWaitService->writeEnd().valid());
  }
  void TearDown() override {
    IPC::Signal::system(SIGCHLD);
    ChildWait::Cleanup();
    ChildWait::Initialize();
  }

  static pid_t spawnExit(int code) {
    const pid_t pid = ::fork();
    if (pid == 0) ::_exit(code);
    return pid;
  }
  static pid_t spawnKilled(int sig) {
    const pid_t pid = ::fork();
    if (pid == 0) {
      for (;;) ::pause();
    }
    ::kill(pid, sig);
    return pid;
  }

  testkit::StreamCapture log_{std::clog};
};

struct Owner {
  ChildWait wait;
  std::vector<int> statuses;
  Owner() { wait.Bind(this, &Owner::OnExit); }
  void OnExit(int status) { statuses.push_back(status); }
};

std::vector<int>& toldPids() {
  static std::vector<int> pids;
  return pids;
}

std::string line(pid_t pid, int status) {
  return "terminate child process, pid=" + std::to_string(pid) + " status=" + std::to_string(status) + "\n";
}

TEST_F(ChildWaitTest, ChildrenEndingBeforeTheLoopRunsAreEachReportedOnceWithTheirOwnStatus) {
  Owner exited, killed;
  const pid_t a = spawnExit(3);
  exited.wait.Attach(a);
  const pid_t b = spawnKilled(SIGKILL);
  killed.wait.Attach(b);
  const pid_t nobody = spawnExit(0);  // nobody waits for this one
  ASSERT_TRUE(a > 0 && b > 0 && nobody > 0);
  const pid_t pids[] = {a, b, nobody};
  std::vector<e2e::Process> children;
  for (pid_t p : pids) children.push_back(e2e::capture(p));

  // All three are reaped by the signal handler before the loop reads.
  ASSERT_TRUE(testkit::waitFor([&] { return std::all_of(children.begin(), children.end(), e2e::gone); }));
  // Collected ends reach their watchers from the loop, not before, though
  // nothing is left in the pair to wake it (a second collect in the same
  // pass finds only the record that wakes it), and never to a watcher
  // attached since under one of their pids.
  std::vector<int> told;
  ChildWaitService::Listen(+[](int pid) { toldPids().push_back(pid); });
  ChildWaitService::childWaitService->Collect();
  ChildWaitService::childWaitService->Collect();
  ChildWaitService::Listen(nullptr);
  // One attached since under each pid: whichever end was read last, none
  // is theirs.
  Owner later[3];
  for (int i = 0; i < 3; ++i) later[i].wait.Attach(pids[i]);
  EXPECT_TRUE(exited.wait.ended());
  EXPECT_TRUE(killed.wait.ended());
  for (const Owner& l : later) EXPECT_FALSE(l.wait.ended()) << l.wait.pid();
  told.swap(toldPids());
  std::sort(told.begin(), told.end());
  std::vector<int> all{a, b, nobody};
  std::sort(all.begin(), all.end());
  EXPECT_EQ(told, all);
  EXPECT_TRUE(exited.statuses.empty() && killed.statuses.empty());

  ASSERT_TRUE(runLoopUntil([&] { return !exited.statuses.empty() && !killed.statuses.empty(); }));
  EXPECT_EQ(exited.statuses, std::vector<int>{768});  // exit code 3
  EXPECT_EQ(killed.statuses, std::vector<int>{SIGKILL});
  for (const Owner& l : later) {
    EXPECT_TRUE(l.statuses.empty()) << l.wait.pid();
    EXPECT_TRUE(l.wait.attached()) << l.wait.pid();
  }
  EXPECT_FALSE(exited.wait.attached());
  EXPECT_FALSE(killed.wait.attached());

  ASSERT_TRUE(runLoopUntil([&] { return log_.str().find(line(nobody, 0)) != std::string::npos; })) << log_.str();
  const std::string text = log_.str();
  EXPECT_NE(text.find(line(a, 768)), std::string::npos) << text;
  EXPECT_NE(text.find(line(b, SIGKILL)), std::string::npos) << text;
  multiplexer.run_once(0);
  EXPECT_EQ(exited.statuses.size() + killed.statuses.size(), 2u);
}

// Twice as many children as the pair holds end while the loop does not
// read, the watched one last: none is reaped before its record is in the
// pair, so the last stays a zombie, and once the loop reads, every end
// comes once with its own status.
TEST_F(ChildWaitTest, MoreEndsThanThePairHoldsAreEachDeliveredOnceTheLoopReads) {
  const std::size_t room = testkit::childRecordRoom();
  ASSERT_GT(room, 0u);
  int release[2];
  ASSERT_EQ(::pipe(release), 0);
  std::vector<e2e::Process> others;
  for (std::size_t i = 0; i < 2 * room; ++i) {
    const pid_t pid = ::fork();
    if (pid == 0) {
      ::close(release[1]);
      char c;
      ::_exit(::read(release[0], &c, 1) == 0 ? static_cast<int>(i % 256) : 255);
    }
    ASSERT_GT(pid, 0);
    others.push_back(e2e::capture(pid));
  }
  ::close(release[0]);
  Owner watched;
  const pid_t last = ::fork();
  if (last == 0) {
    ::close(release[1]);
    for (;;) ::pause();
  }
  const e2e::Process lastOne = e2e::capture(last);
  watched.wait.Attach(last);
  ::close(release[1]);
  ASSERT_TRUE(testkit::waitFor([&] { return std::all_of(others.begin(), others.end(), e2e::ended); }));
  ::kill(last, SIGKILL);
  ASSERT_TRUE(testkit::waitFor([&] { return e2e::ended(lastOne); }));
  // The race ran: the pair was full when the last one ended, which is
  // still a zombie.
  EXPECT_FALSE(e2e::gone(lastOne)) << "reaped with " << room << " records in the pair";

  ASSERT_TRUE(runLoopUntil([&] { return !watched.statuses.empty(); })) << "the watched end is lost";
  EXPECT_EQ(watched.statuses, std::vector<int>{SIGKILL});
  multiplexer.run_once(0);
  const std::string text = log_.str();
  const auto count = [&](const std::string& what) {
    std::size_t n = 0;
    for (std::size_t at = text.find(what); at != std::string::npos; at = text.find(what, at + 1)) ++n;
    return n;
  };
  for (std::size_t i = 0; i < others.size(); ++i) {
    EXPECT_EQ(count(line(others[i].pid, static_cast<int>(i % 256) << 8)), 1u) << others[i].pid;
    EXPECT_TRUE(e2e::gone(others[i])) << others[i].pid;
  }
  EXPECT_EQ(count("terminate child process"), others.size() + 1);
}

// A watcher is out of the list before its member runs: the member may
// destroy it. Attaching twice lists it once; a detached watcher hears
// nothing.
struct SelfDestroying {
  std::unique_ptr<ChildWait> wait{new ChildWait};
  int calls = 0;
  void OnExit(int) {
    ++calls;
    wait.reset();
  }
};

TEST_F(ChildWaitTest, WatcherMayDestroyItselfAndADetachedWatcherIsNotCalled) {
  SelfDestroying self;
  self.wait->Bind(&self, &SelfDestroying::OnExit);
  Owner detached, rebound;
  const pid_t a = spawnExit(1);
  self.wait->Attach(a);
  self.wait->Attach(a);
  const pid_t b = spawnExit(2);
  detached.wait.Attach(b);
  detached.wait.Detach();
  // Binding again replaces the handler: the first owner is not called.
  Owner other;
  const pid_t c = spawnExit(4);
  rebound.wait.Attach(c);
  rebound.wait.Bind(&other, &Owner::OnExit);

  ASSERT_TRUE(runLoopUntil([&] {
    const std::string t = log_.str();
    return t.find(line(a, 256)) != std::string::npos && t.find(line(b, 512)) != std::string::npos &&
           t.find(line(c, 1024)) != std::string::npos;
  })) << log_.str();
  EXPECT_EQ(self.calls, 1);
  EXPECT_EQ(self.wait, nullptr);
  EXPECT_TRUE(detached.statuses.empty());
  EXPECT_TRUE(rebound.statuses.empty());
  EXPECT_EQ(other.statuses, std::vector<int>{1024});
}

// The handler runs between any two instructions of the loop: it must leave
// errno as it found it, and must never block on a pair the loop has not
// read.
TEST_F(ChildWaitTest, SignalHandlerKeepsErrnoAndItsEndOfThePairIsNonBlocking) {
  const int fd = ChildWaitService::childWaitService->writeEnd().get();
  EXPECT_TRUE(::fcntl(fd, F_GETFL) & O_NONBLOCK);
  EXPECT_TRUE(::fcntl(fd, F_GETFD) & FD_CLOEXEC);
  EXPECT_TRUE(::fcntl(ChildWaitService::childWaitService->event().fd().get(), F_GETFL) & O_NONBLOCK);

  const e2e::Process a = e2e::capture(spawnExit(0));
  ASSERT_TRUE(testkit::waitFor([&] { return e2e::gone(a); }));
  errno = EAGAIN;
  ChildWaitService::SigChldHandlerWrapper(SIGCHLD);  // waitpid ends with ECHILD
  EXPECT_EQ(errno, EAGAIN);

  struct sigaction sa;
  ::sigaction(SIGCHLD, nullptr, &sa);
  EXPECT_TRUE(sa.sa_flags & SA_RESTART);
}

}  // namespace child_wait_test
