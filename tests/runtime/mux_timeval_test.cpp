#include "runtime/mux_timeval.h"

#include <gtest/gtest.h>
#include <stdlib.h>
#include <time.h>
#include <unistd.h>

#include <string>

#include "runtime/mux_select.h"

namespace {

Mux::timeval tv(std::int32_t s, std::int32_t us) { return Mux::timeval{s, us}; }

TEST(MuxTimeval, ArithmeticCarriesBorrowsAndNeverGoesNegative) {
  EXPECT_EQ(Mux::timevaldiff(tv(10, 900000), tv(11, 100000)), 200);
  EXPECT_EQ(Mux::timevaldiff(tv(11, 100000), tv(10, 900000)), 0);
  EXPECT_EQ(Mux::timevaldiff(tv(-2147483647 - 1, 0), tv(2147483647, 0)), 4294967295000LL);
  EXPECT_EQ(Mux::timevalcompare(tv(2, 0), tv(1, 999999)), 1);
  Mux::timeval a = tv(1, 700000);
  EXPECT_EQ(Mux::timevaladd(a, tv(2, 400000)), 0);
  EXPECT_EQ(a.tv_sec * 1000000 + a.tv_usec, 4100000);
  Mux::timeval out;
  Mux::timevalsub2(tv(5, 0), tv(5, 1), out);
  EXPECT_EQ(out.tv_sec, -1);
  EXPECT_EQ(out.tv_usec, 999999);
}

TEST(MuxTimeval, TextIsLocalTimeWithSixDigitMicroseconds) {
  const char* old = std::getenv("TZ");
  const std::string saved = old ? old : "";
  ::setenv("TZ", "UTC", 1);
  ::tzset();
  EXPECT_EQ(Mux::timevaltostring(tv(1700000000, 123456)), "2023-11-14 22:13:20.123456");
  EXPECT_EQ(Mux::timevaltostring(tv(0, 5)), "1970-01-01 00:00:00.000005");
  if (old)
    ::setenv("TZ", saved.c_str(), 1);
  else
    ::unsetenv("TZ");
  ::tzset();
}

TEST(MuxSelect, SetsKnowTheirHighestDescriptorAndRefuseWhatDoesNotFit) {
  Mux::Set s;
  EXPECT_FALSE(s.add(-1));
  EXPECT_FALSE(s.add(FD_SETSIZE));
  EXPECT_EQ(s.max, -1);
  EXPECT_TRUE(s.add(3));
  EXPECT_TRUE(s.add(9));
  s.remove(9);
  EXPECT_EQ(s.max, 3);

  int p[2];
  ASSERT_EQ(::pipe(p), 0);
  Mux::Set rd, wr, none;
  rd.add(p[0]);
  Mux::timeval zero = tv(0, 0);
  EXPECT_EQ(Mux::select_rd(rd, zero), 0);
  ASSERT_EQ(::write(p[1], "x", 1), 1);
  rd.add(p[0]);
  Mux::timeval wait = tv(5, 0);
  EXPECT_EQ(Mux::select_rd(rd, wait), 1);
  EXPECT_TRUE(rd.contains(p[0]));
  wr.add(p[1]);
  EXPECT_EQ(Mux::select(none, wr), 1);  // an empty set is passed as absent
  ::close(p[0]);
  ::close(p[1]);
}

}  // namespace
