#include "runtime/full_sleep.h"

#include <errno.h>
#include <time.h>

void full_sleep_us(unsigned us) {
  struct timespec deadline;
  ::clock_gettime(CLOCK_MONOTONIC, &deadline);
  deadline.tv_sec += static_cast<time_t>(us / 1000000u);
  deadline.tv_nsec += static_cast<long>(us % 1000000u) * 1000L;
  if (deadline.tv_nsec >= 1000000000L) {
    deadline.tv_nsec -= 1000000000L;
    ++deadline.tv_sec;
  }
  while (::clock_nanosleep(CLOCK_MONOTONIC, TIMER_ABSTIME, &deadline, nullptr) == EINTR) {
  }
}
