#include "runtime/ipc_signal.h"

#include <gtest/gtest.h>
#include <signal.h>

namespace {

volatile sig_atomic_t got1 = 0;
volatile sig_atomic_t got3 = 0;
void handler1(int sig) { got1 = sig; }
void handler3(int sig, siginfo_t* info, void* ctx) { got3 = (info == nullptr && ctx == nullptr) ? sig : -1; }

struct Restore {
  int sig;
  struct sigaction old;
  explicit Restore(int s) : sig(s) { sigaction(s, nullptr, &old); }
  ~Restore() { sigaction(sig, &old, nullptr); }
};

int flags(int sig) {
  struct sigaction sa;
  sigaction(sig, nullptr, &sa);
  return sa.sa_flags;
}

TEST(IpcSignal, HandlersGetTheSignalNumberAndInterruptionIsSwitchable) {
  Restore r1(SIGUSR1), r2(SIGUSR2);
  ASSERT_EQ(IPC::Signal::handle(SIGUSR1, handler1, SA_RESTART), 0);
  ASSERT_EQ(IPC::Signal::handle(SIGUSR2, handler3, SA_SIGINFO), 0);
  raise(SIGUSR1);
  raise(SIGUSR2);
  EXPECT_EQ(got1, SIGUSR1);
  EXPECT_EQ(got3, SIGUSR2);
  EXPECT_FALSE(flags(SIGUSR2) & SA_SIGINFO);  // never set, whatever was asked
  EXPECT_TRUE(flags(SIGUSR1) & SA_RESTART);
  EXPECT_EQ(IPC::Signal::enable_int(SIGUSR1), 0);
  EXPECT_FALSE(flags(SIGUSR1) & SA_RESTART);
  EXPECT_EQ(IPC::Signal::disable_int(SIGUSR1), 0);
  EXPECT_TRUE(flags(SIGUSR1) & SA_RESTART);
  EXPECT_EQ(IPC::Signal::handle(1000, handler1, 0), -1);
}

TEST(IpcSignal, EverySignalOfTheSetIsMasked) {
  Restore r(SIGHUP);
  ASSERT_EQ(IPC::Signal::handle(SIGHUP, handler1, IPC::Signal::Set(SIGUSR1, SIGUSR2, SIGPIPE), 0), 0);
  struct sigaction sa;
  sigaction(SIGHUP, nullptr, &sa);
  for (int sig : {SIGUSR1, SIGUSR2, SIGPIPE}) EXPECT_TRUE(sigismember(&sa.sa_mask, sig)) << sig;
}

}  // namespace
