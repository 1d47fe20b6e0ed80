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
  // Reaped (by the handler): the pid no longer names even a zombie.
  static bool gone(pid_t pid) { return ::kill(pid, 0) != 0 && errno == ESRCH; }

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

  // All three are reaped by the signal handler before the loop reads.
  ASSERT_TRUE(testkit::waitFor([&] { return gone(a) && gone(b) && gone(nobody); }));
  // Collected ends reach their watchers from the loop, not before, though
  // nothing is left in the pair to wake it (a second collect in the same
  // pass finds only the record that wakes it), and never to a watcher
  // attached since under one of their pids.
  std::vector<int> told;
  ChildWaitService::Listen(+[](int pid) { toldPids().push_back(pid); });
  ChildWaitService::childWaitService->Collect();
  ChildWaitService::childWaitService->Collect();
  ChildWaitService::Listen(nullptr);
  Owner later;
  later.wait.Attach(nobody);
  EXPECT_TRUE(exited.wait.ended());
  EXPECT_FALSE(later.wait.ended());
  told.swap(toldPids());
  std::sort(told.begin(), told.end());
  std::vector<int> all{a, b, nobody};
  std::sort(all.begin(), all.end());
  EXPECT_EQ(told, all);
  EXPECT_TRUE(exited.statuses.empty() && killed.statuses.empty());

  ASSERT_TRUE(runLoopUntil([&] { return !exited.statuses.empty() && !killed.statuses.empty(); }));
  EXPECT_EQ(exited.statuses, std::vector<int>{768});  // exit code 3
  EXPECT_EQ(killed.statuses, std::vector<int>{SIGKILL});
  EXPECT_TRUE(later.statuses.empty());
  EXPECT_TRUE(later.wait.attached());
  EXPECT_FALSE(exited.wait.attached());
  EXPECT_FALSE(killed.wait.attached());

  ASSERT_TRUE(runLoopUntil([&] { return log_.str().find(line(nobody, 0)) != std::string::npos; })) << log_.str();
  const std::string text = log_.str();
  EXPECT_NE(text.find(line(a, 768)), std::string::npos) << text;
  EXPECT_NE(text.find(line(b, SIGKILL)), std::string::npos) << text;
  multiplexer.run_once(0);
  EXPECT_EQ(exited.statuses.size() + killed.statuses.size(), 2u);
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

  const pid_t a = spawnExit(0);
  ASSERT_TRUE(testkit::waitFor([&] { return gone(a); }));
  errno = EAGAIN;
  ChildWaitService::SigChldHandlerWrapper(SIGCHLD);  // waitpid ends with ECHILD
  EXPECT_EQ(errno, EAGAIN);

  struct sigaction sa;
  ::sigaction(SIGCHLD, nullptr, &sa);
  EXPECT_TRUE(sa.sa_flags & SA_RESTART);
}

}  // namespace child_wait_test
