#include "runtime/child_process.h"

#include <errno.h>
#include <gtest/gtest.h>
#include <signal.h>
#include <sys/prctl.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstring>
#include <iostream>
#include <string>

#include "runtime/child_wait.h"
#include "runtime/ipc_signal.h"
#include "runtime/test_clock.h"
#include "tests/children.h"
#include "tests/deadline.h"
#include "tests/e2e/process_scan.h"
#include "tests/runtime/run_loop.h"
#include "tests/stream_capture.h"

namespace {

volatile sig_atomic_t caught = 0;
void Catch(int) { caught = 1; }

bool handlerIs(int sig, void (*handler)(int)) {
  struct sigaction now;
  return ::sigaction(sig, nullptr, &now) == 0 && now.sa_handler == handler;
}

// The child's exit code says what it found: a bit per fault.
int childCheck(const sigset_t& expectedMask) {
  int faults = 0;
  if (!handlerIs(SIGTERM, SIG_DFL)) faults |= 1;
  if (!handlerIs(SIGUSR1, SIG_DFL)) faults |= 2;
  if (!handlerIs(SIGPIPE, SIG_IGN)) faults |= 4;  // ignored stays ignored
  sigset_t mask;
  ::sigprocmask(SIG_SETMASK, nullptr, &mask);
  for (int sig = 1; sig < _NSIG; ++sig)
    if (::sigismember(&mask, sig) != ::sigismember(&expectedMask, sig)) faults |= 8;
  return faults;
}

class ForkTest : public testing::Test {
 protected:
  void SetUp() override {
    IPC::Signal::handle(SIGTERM, Catch, 0);
    IPC::Signal::handle(SIGUSR1, Catch, 0);
    IPC::Signal::ignore(SIGPIPE);
    sigset_t usr2;
    ::sigemptyset(&usr2);
    ::sigaddset(&usr2, SIGUSR2);
    ::sigprocmask(SIG_BLOCK, &usr2, &saved_);
    ::sigprocmask(SIG_SETMASK, nullptr, &mask_);
  }
  void TearDown() override {
    for (int sig : {SIGTERM, SIGUSR1, SIGPIPE}) IPC::Signal::system(sig);
    ::sigprocmask(SIG_SETMASK, &saved_, nullptr);
  }
  static int waitStatus(pid_t pid) {
    int status = -1;
    while (::waitpid(pid, &status, 0) < 0 && errno == EINTR) {
    }
    return status;
  }
  sigset_t saved_, mask_;
};

// The child starts with the daemon's handlers gone and the mask the
// daemon had; the daemon's mask is as before the fork.
TEST_F(ForkTest, ChildHasDefaultHandlersAndTheCallersMaskAndTheCallerKeepsItsOwn) {
  const pid_t pid = ChildProcess::Fork();
  ASSERT_GE(pid, 0) << "could not fork: " << std::strerror(errno);
  if (pid == 0) ::_exit(childCheck(mask_));
  sigset_t after;
  ::sigprocmask(SIG_SETMASK, nullptr, &after);
  for (int sig = 1; sig < _NSIG; ++sig) EXPECT_EQ(::sigismember(&after, sig), ::sigismember(&mask_, sig)) << sig;
  const int status = waitStatus(pid);
  ASSERT_TRUE(WIFEXITED(status)) << status;
  EXPECT_EQ(WEXITSTATUS(status), 0) << "faults (1 SIGTERM, 2 SIGUSR1, 4 SIGPIPE, 8 mask)";
}

// A stop signal reaching the child before it runs its program ends it,
// rather than raising the daemon's flag in the child's copy.
TEST_F(ForkTest, AStopSignalInTheChildTakesItsDefaultEffect) {
  const pid_t pid = ChildProcess::Fork();
  ASSERT_GE(pid, 0) << "could not fork: " << std::strerror(errno);
  if (pid == 0) {
    ::raise(SIGTERM);
    ::_exit(caught ? 1 : 0);
  }
  const int status = waitStatus(pid);
  ASSERT_TRUE(WIFSIGNALED(status)) << status;
  EXPECT_EQ(WTERMSIG(status), SIGTERM);
  EXPECT_EQ(caught, 0);
}

class AbandonTest : public testing::Test {
 protected:
  void SetUp() override { ChildWait::Activate(); }
  void TearDown() override {
    children_.end();
    IPC::Signal::system(SIGCHLD);
    ChildWait::Cleanup();
    ChildWait::Initialize();
  }
  // A child that takes no notice of SIGTERM, or takes the default; it
  // dies with the test.
  static pid_t spawn(bool ignoreTerm) {
    const pid_t pid = ChildProcess::Fork();
    if (pid == 0) {
      ::prctl(PR_SET_PDEATHSIG, SIGKILL);
      if (ignoreTerm) ::signal(SIGTERM, SIG_IGN);
      for (;;) ::pause();
    }
    return pid;
  }

  testkit::Children children_;  // ends what a failed test left paused
  testkit::StreamCapture err_{std::cerr};
  testkit::StreamCapture log_{std::clog};
};

TEST_F(AbandonTest, AChildEndingOnTheStopIsForgottenWithoutAKill) {
  const pid_t pid = spawn(false);
  ASSERT_GT(pid, 0) << "could not fork: " << std::strerror(errno);
  const e2e::Process child = e2e::capture(pid);
  children_.hold(child);
  ChildProcess::Abandon(pid, SIGTERM, 60000, "probe");
  EXPECT_EQ(ChildProcess::abandoned(), 1u);
  ASSERT_TRUE(runLoopUntil([] { return ChildProcess::abandoned() == 0; }));
  EXPECT_TRUE(e2e::gone(child));
  EXPECT_EQ(err_.str(), "");
}

TEST_F(AbandonTest, AChildIgnoringTheStopIsKilledAtTheDeadlineWithOneLine) {
  // It has set its own disposition before it is abandoned.
  int ready[2];
  ASSERT_EQ(::pipe(ready), 0);
  const pid_t pid = ChildProcess::Fork();
  if (pid == 0) {
    ::prctl(PR_SET_PDEATHSIG, SIGKILL);
    ::signal(SIGTERM, SIG_IGN);
    if (::write(ready[1], "x", 1) != 1) ::_exit(3);
    for (;;) ::pause();
  }
  if (pid < 0) {
    ::close(ready[0]);
    ::close(ready[1]);
  }
  ASSERT_GT(pid, 0) << "could not fork: " << std::strerror(errno);
  const e2e::Process child = e2e::capture(pid);
  children_.hold(child);
  char c;
  ASSERT_EQ(::read(ready[0], &c, 1), 1);
  ::close(ready[0]);
  ::close(ready[1]);

  Mux::TestClock clock(1000);
  ChildProcess::Abandon(pid, SIGTERM, 2000, "probe");
  clock.advance(1999);
  EXPECT_FALSE(e2e::gone(child));
  EXPECT_EQ(err_.str(), "");
  clock.advance(1);
  EXPECT_EQ(err_.str(), "probe[" + std::to_string(pid) + "] isn't terminated, killing ...\n");
  EXPECT_EQ(ChildProcess::abandoned(), 0u);
  EXPECT_TRUE(testkit::waitFor([&] { return e2e::gone(child); }));
}

// A child whose end has been reaped but not yet read when the deadline
// comes is not signalled again: its pid may name another process by then.
TEST_F(AbandonTest, AnEndNotYetReadAtTheDeadlineIsReadFirstAndNothingIsKilled) {
  const pid_t pid = spawn(false);
  ASSERT_GT(pid, 0) << "could not fork: " << std::strerror(errno);
  const e2e::Process child = e2e::capture(pid);
  children_.hold(child);
  Mux::TestClock clock(1000);
  ChildProcess::Abandon(pid, SIGTERM, 50, "probe");
  // Reaped by the handler; the loop has not read the record.
  ASSERT_TRUE(testkit::waitFor([&] { return e2e::gone(child); }));
  clock.advance(50);
  EXPECT_EQ(err_.str(), "");
  EXPECT_EQ(ChildProcess::abandoned(), 0u);
}

}  // namespace
