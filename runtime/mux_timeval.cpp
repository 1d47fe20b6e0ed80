#include "runtime/mux_timeval.h"

#include <time.h>

#include <cstdio>

namespace Mux {

std::string timevaltostring(const timeval& tv) {
  const time_t seconds = tv.tv_sec;
  struct tm local;
  char date[64] = "";
  if (::localtime_r(&seconds, &local)) ::strftime(date, sizeof date, "%Y-%m-%d %H:%M:%S", &local);
  char text[96];
  std::snprintf(text, sizeof text, "%s.%06ld", date, static_cast<long>(tv.tv_usec));
  return text;
}

timeval make_from_usec(unsigned us) {
  timeval tv;
  tv.tv_sec = static_cast<std::int32_t>(us / 1000000u);
  tv.tv_usec = static_cast<std::int32_t>(us % 1000000u);
  return tv;
}

timeval make_from_msec(unsigned ms) {
  timeval tv;
  tv.tv_sec = static_cast<std::int32_t>(ms / 1000u);
  tv.tv_usec = static_cast<std::int32_t>((ms % 1000u) * 1000u);
  return tv;
}

void timevalset(timeval& tv, unsigned long long ms) {
  tv.tv_sec = static_cast<std::int32_t>(ms / 1000u);
  tv.tv_usec = static_cast<std::int32_t>((ms % 1000u) * 1000u);
}

int timevaladd(timeval& a, const timeval& b) { return timevaladd2(a, b, a); }

int timevalsub(timeval& a, const timeval& b) { return timevalsub2(a, b, a); }

int timevaladd2(const timeval& a, const timeval& b, timeval& out) {
  const std::int32_t us = a.tv_usec + b.tv_usec;
  out.tv_sec = a.tv_sec + b.tv_sec + us / 1000000;
  out.tv_usec = us % 1000000;
  return 0;
}

int timevalsub2(const timeval& a, const timeval& b, timeval& out) {
  const std::int32_t us = a.tv_usec - b.tv_usec + 1000000;
  out.tv_sec = a.tv_sec - b.tv_sec + us / 1000000 - 1;
  out.tv_usec = us % 1000000;
  return 0;
}

std::int64_t timevaldiff(const timeval& a, const timeval& b) {
  if (timevalcompare(b, a) < 0) return 0;
  const std::int64_t ms = (static_cast<std::int64_t>(b.tv_sec) - a.tv_sec) * 1000 +
                          (static_cast<std::int64_t>(b.tv_usec) - a.tv_usec) / 1000;
  return ms;
}

int timevalcompare(const timeval& a, const timeval& b) {
  if (a.tv_sec != b.tv_sec) return a.tv_sec < b.tv_sec ? -1 : 1;
  if (a.tv_usec != b.tv_usec) return a.tv_usec < b.tv_usec ? -1 : 1;
  return 0;
}

bool timeval_timer::is_expired(const timeval& now) const {
  if (period < 1) return false;
  return timevaldiff(start, now) > period;
}

void timeval_timer::inc() { timevaladd(start, make_from_msec(static_cast<unsigned>(period))); }

}  // namespace Mux
