#include <gtest/gtest.h>

#include <sstream>

#include "runtime/profile.h"
#include "runtime/test_clock.h"
#include "runtime/trace_block.h"
#include "runtime/version.h"

namespace {

TEST(Version, CurrentRecordPrintsItsTag) {
  std::ostringstream s;
  s << Version::current;
  EXPECT_EQ(s.str(), "T250428-2012");
  EXPECT_EQ(Version::current.type(), Version::snapshot);
  EXPECT_STREQ(Version::current.date(), "2025-04-28 20:12");
  EXPECT_STREQ(Version::current.arch(), "ppc");
}

TEST(Profile, PointKeepsMinMaxLastAndCounter) {
  Mux::TestClock clock(0);
  Profile::Point p("probe::point");
  std::ostringstream never;
  p.put(never);
  EXPECT_EQ(never.str(), "[probe::point]: min=0 max=0 avg=0 counter=0");
  p.begin();
  clock.advance_us(120);
  p.end();
  std::ostringstream once;
  p.put(once);
  EXPECT_EQ(once.str(), "[probe::point]: min=120 max=120 avg=120 counter=1");
  p.begin();
  clock.advance_us(80);
  p.end();
  std::ostringstream twice;
  twice << std::hex;
  p.put(twice);
  EXPECT_EQ(twice.str(), "[probe::point]: min=80 max=120 avg=80 counter=2");
}

TEST(Profile, DumpListsPointsNewestFirstAndForgetsDestroyedOnes) {
  Profile::Point older("older");
  std::ostringstream s;
  {
    Profile::Point newer("newer");
    Profile::dump(s);
  }
  const std::string text = s.str();
  EXPECT_LT(text.find("[newer]: "), text.find("[older]: "));
  std::ostringstream after;
  Profile::dump(after);
  EXPECT_EQ(after.str().find("[newer]"), std::string::npos);
  EXPECT_NE(after.str().find("[older]: min=0 max=0 avg=0 counter=0\n"), std::string::npos);
}

TEST(TraceBlock, EnterAndLeaveLinesOnlyWhenEnabled) {
  std::ostringstream s;
  { Trace::Block b(true, "work", s); }
  { Trace::Block b(false, "quiet", s); }
  EXPECT_EQ(s.str(), "Enter work\nLeave work\n");
}

}  // namespace
