// The framer holder: the driver's status text and the trunk state.
#include "monitoring/framer_data_holder.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "platform/sysroot.h"

namespace {

std::vector<unsigned char> text(const std::string& s) { return std::vector<unsigned char>(s.begin(), s.end()); }

const std::string kState = "Current state           : ";
const std::string kSignal = "Loss of Signal          : ";
const std::string kFrame = "Loss of Frame Alignment : ";

TEST(FramerDataHolder, StatusTextSetsEachLabelledFieldAndReportsOnlyChanges) {
  FramerDataHolder f(1, std::string(sysroot::framer_dir) + "0");
  EXPECT_EQ(f.state_text(), "absent");
  EXPECT_FALSE(f.connected());

  EXPECT_TRUE(f.setFramerStatus(text(kState + "No Carrier\n")));
  EXPECT_EQ(f.state_text(), "No Carrier");
  EXPECT_FALSE(f.connected());
  EXPECT_TRUE(f.signal_loss());
  EXPECT_TRUE(f.frame_loss());

  // The last line needs no line end; lines without a label are passed over.
  const std::string up = "E1 framer 0\n" + kState + "Synchronized\n" + kSignal + "no\n" + kFrame + "no";
  EXPECT_TRUE(f.setFramerStatus(text(up)));
  EXPECT_TRUE(f.connected());
  EXPECT_FALSE(f.signal_loss());
  EXPECT_FALSE(f.frame_loss());
  EXPECT_FALSE(f.setFramerStatus(text(up)));
  EXPECT_FALSE(f.setFramerStatus(text("nothing of interest\n\n")));

  // Counts read their leading digits; a value is everything behind the
  // label, so a trailing blank makes "No Carrier " a state of its own.
  EXPECT_TRUE(f.setFramerStatus(text("Receive Slip Negative   : 12 events\nReceive Slip Positive   : x\n")));
  EXPECT_EQ(f.slip_negative(), 12);
  EXPECT_EQ(f.slip_positive(), 0);
  EXPECT_TRUE(f.setFramerStatus(text(kState + "No Carrier \n")));
  EXPECT_TRUE(f.connected());
  // Nothing is trimmed: "yes\r" is not "yes".
  EXPECT_FALSE(f.setFramerStatus(text(kSignal + "yes\r\n")));
  EXPECT_FALSE(f.signal_loss());
  // A label anywhere in the line; applied in line order, the last stands.
  EXPECT_TRUE(f.setFramerStatus(text("  " + kFrame + "yes\n" + kFrame + "no\n" + kSignal + "yes")));
  EXPECT_FALSE(f.frame_loss());
  EXPECT_TRUE(f.signal_loss());
  EXPECT_TRUE(f.setFramerStatus(text("Receive Slip Positive   : 99999999999999\n")));
  EXPECT_EQ(f.slip_positive(), 2147483647);
}

TEST(FramerDataHolder, TrunkStateSetsTheStateTextOnly) {
  FramerDataHolder f(2, std::string(sysroot::framer_dir) + "1");
  EXPECT_TRUE(f.setFramerStatus(ACP::TrunkState::ais));
  EXPECT_EQ(f.state_text(), "AIS");
  EXPECT_TRUE(f.connected());
  EXPECT_FALSE(f.setFramerStatus(ACP::TrunkState::ais));
  EXPECT_TRUE(f.setFramerStatus(ACP::TrunkState::lossCarrier));
  EXPECT_EQ(f.state_text(), "No Carrier");
  EXPECT_FALSE(f.connected());
  const std::pair<ACP::TrunkState::NamedNumber, const char*> texts[] = {{ACP::TrunkState::normal, "Synchronized"},
                                                                        {ACP::TrunkState::lossBF, "FAS Loss"},
                                                                        {ACP::TrunkState::rai, "RAI"},
                                                                        {ACP::TrunkState::unknown, "Unknown"},
                                                                        {ACP::TrunkState::disabled, "Unknown"},
                                                                        {ACP::TrunkState::normal, "Synchronized"}};
  for (const auto& t : texts) {
    f.setFramerStatus(t.first);
    EXPECT_EQ(f.state_text(), t.second) << t.first;
    EXPECT_TRUE(f.connected());
  }
  ACP::TrunkState beyond;
  beyond.setValue(9);
  EXPECT_TRUE(f.setFramerStatus(beyond));
  EXPECT_EQ(f.state_text(), "Unknown");
  EXPECT_TRUE(f.signal_loss());
  EXPECT_TRUE(f.frame_loss());
}

}  // namespace
