#include <gtest/gtest.h>

#include <sstream>

#include "runtime/profile.h"
#include "runtime/test_clock.h"
#include "runtime/trace_block.h"

namespace {

TEST(Profile, PointKeepsMinMaxLastAndCounterAndDumpListsNewestFirst) {
  Mux::TestClock clock(0);
  Profile::Point older("older");
  std::ostringstream s;
  {
    Profile::Point p("probe::point");
    p.begin();
    clock.advance_us(120);
    p.end();
    p.begin();
    clock.advance_us(80);
    p.end();
    std::ostringstream twice;
    twice << std::hex;
    p.put(twice);
    EXPECT_EQ(twice.str(), "[probe::point]: min=80 max=120 avg=80 counter=2");
    Profile::dump(s);
  }
  EXPECT_LT(s.str().find("[probe::point]: "), s.str().find("[older]: "));
  std::ostringstream after;
  Profile::dump(after);
  EXPECT_EQ(after.str().find("[probe::point]"), std::string::npos);
  EXPECT_NE(after.str().find("[older]: min=0 max=0 avg=0 counter=0\n"), std::string::npos);
}

TEST(TraceBlock, EnterAndLeaveLinesOnlyWhenEnabled) {
  std::ostringstream s;
  { Trace::Block b(true, "work", s); }
  { Trace::Block b(false, "quiet", s); }
  EXPECT_EQ(s.str(), "Enter work\nLeave work\n");
}

}  // namespace
