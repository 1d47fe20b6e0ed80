// The network-interface holder's judgement of the running samples (the
// kernel's own flags are sampled in the data holder's namespace test).
#include "monitoring/net_if_data_holder.h"

#include <gtest/gtest.h>

#include <string>

namespace {

std::string judge(NetIfDataHolder& h, int sample) {
  const bool changed = h.setNetIfStatus(sample);
  return std::string(changed ? "T" : "F") + std::to_string(h.running());
}

TEST(NetIfDataHolder, RunningTakesTwoOfTheLastThreeSamples) {
  NetIfDataHolder a(3, "eth0");
  EXPECT_EQ(a.running(), -1);
  EXPECT_EQ(a.oper_status(), 2);
  // The first sample always reports, whichever it is.
  EXPECT_EQ(judge(a, 1), "T0");
  EXPECT_EQ(judge(a, 0), "F0");
  EXPECT_EQ(judge(a, 1), "T1");
  EXPECT_EQ(a.oper_status(), 1);
  EXPECT_EQ(a.admin_status(), 1);

  NetIfDataHolder b(4, "eth1");
  EXPECT_EQ(judge(b, 0), "T0");
  EXPECT_EQ(judge(b, 1), "F0");
  EXPECT_EQ(judge(b, 1), "T1");
  EXPECT_EQ(judge(b, 0), "F1");
  EXPECT_EQ(judge(b, 0), "T0");  // 1 0 0: the oldest 0 has gone
  EXPECT_EQ(b.samples().size(), 3u);
  EXPECT_EQ(b.oper_status(), 2);
  EXPECT_EQ(b.admin_status(), 2);
}

}  // namespace
