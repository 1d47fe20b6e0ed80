#include "runtime/full_sleep.h"

#include <gtest/gtest.h>
#include <signal.h>
#include <sys/time.h>

#include <chrono>

namespace {

volatile sig_atomic_t interrupted = 0;
void onAlarm(int) { interrupted = interrupted + 1; }

// A signal caught in the middle of the wait (its handler installed without
// SA_RESTART, as a plain sleep would be cut short by it) does not end it.
TEST(FullSleep, ASignalCaughtMeanwhileDoesNotCutTheWaitShort) {
  struct sigaction action = {}, old = {};
  action.sa_handler = onAlarm;
  sigemptyset(&action.sa_mask);
  ASSERT_EQ(::sigaction(SIGALRM, &action, &old), 0);
  interrupted = 0;
  itimerval alarm = {};
  alarm.it_value.tv_usec = 20000;
  ASSERT_EQ(::setitimer(ITIMER_REAL, &alarm, nullptr), 0);
  const auto start = std::chrono::steady_clock::now();
  full_sleep_us(200000);
  const auto waited =
      std::chrono::duration_cast<std::chrono::microseconds>(std::chrono::steady_clock::now() - start).count();
  ::sigaction(SIGALRM, &old, nullptr);
  EXPECT_EQ(interrupted, 1);
  EXPECT_GE(waited, 200000);
}

}  // namespace
