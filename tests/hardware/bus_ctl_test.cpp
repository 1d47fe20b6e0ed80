// The bus clock and the bus test as control services on the simulated
// board.
#include "hardware/bus_ctl.h"

#include <gtest/gtest.h>
#include <stdlib.h>

#include <string>
#include <vector>

#include "hardware/hw_mux.h"
#include "hardware/hw_tests.h"
#include "tests/hardware/service_fixture.h"

namespace {

using hwtest::contains;
using hwtest::success;
using Replies = std::vector<std::string>;

std::string clockCfg(int seq, const char* clkSel0, const char* bextEn, int source) {
  return "{ seq " + std::to_string(seq) + ", pdu command : clockCfg : { clkSel0 " + clkSel0 + ", bextEn " + bextEn +
         ", source " + std::to_string(source) + " } }";
}

// The clock selections the journal shows, in order.
std::string clocks(const std::vector<std::string>& journal) {
  std::string out;
  for (const std::string& l : journal)
    if (contains(l, " 0x80044301 ")) out += l.substr(l.rfind('(')) + (contains(l, "-> -1") ? "!" : "");
  return out;
}

class BusClockTest : public hwtest::ServiceTest {
 protected:
  BusCtl bus;
};

TEST_F(BusClockTest, EachConfigurationSelectsItsSourceAndNoneWhenItNamesNone) {
  connect(bus);
  EXPECT_EQ(request(clockCfg(1, "internal", "enabled", 3)), Replies{success(1)});
  EXPECT_EQ(request(clockCfg(2, "external", "disabled", 1)), Replies{success(2)});
  EXPECT_EQ(request(clockCfg(3, "external", "enabled", 2)), Replies{success(3)});
  EXPECT_EQ(request(clockCfg(4, "external", "enabled", -1)), Replies{success(4)});
  // A source the driver does not have: the controller hears of it.
  EXPECT_EQ(request(clockCfg(5, "external", "enabled", 9)), Replies{hwtest::error(5, "internal")});
  disconnect();
  EXPECT_EQ(clocks(journal()), "(clock 4)(clock 4)(clock 5)(clock 2)(clock 9)!(clock 4)");
  EXPECT_TRUE(contains(err(), "clkctl: clock source = freerun\n"));
  EXPECT_TRUE(contains(err(), "clkctl: clock source = X3\n"));
  EXPECT_TRUE(contains(err(), "clkctl: HW_CLOCK_SELECT fail.\n"));
}

TEST_F(BusClockTest, UnreachableHalIsAnErrorAndTakesTheLineChipsOffTheClockUntilItOpens) {
  command("refuse-open hal");
  connect(bus);
  EXPECT_EQ(request(clockCfg(1, "external", "enabled", 1)), Replies{hwtest::error(1, "internal")});
  EXPECT_TRUE(contains(err(), "clkctl: set clock source fail: code 1.\n")) << err();
  EXPECT_TRUE(contains(log(), "spi: clock master disabled\n")) << log();
  command("refuse-open hal off");
  EXPECT_EQ(request(clockCfg(2, "external", "enabled", 1)), Replies{success(2)});
  EXPECT_EQ(clocks(journal()), "(clock 1)");
}

class BusTestTest : public hwtest::ServiceTest {
 protected:
  std::string testBpc(int seq, const char* mode, int bus, int start, int length) {
    return "{ seq " + std::to_string(seq) + ", pdu command : testBpc : { bus " + std::to_string(bus) +
           ", seed 1234, mode " + mode + " : NULL, timeslot-start " + std::to_string(start) + ", timeslot-length " +
           std::to_string(length) + " } }";
  }
  HwMux mux;
  HwTests tests{mux};
};

TEST_F(BusTestTest, WriteDrivesTheSequenceReadFindsItAndDisconnectLetsGo) {
  connect(tests);
  // The last channels of bus 15.
  EXPECT_EQ(request(testBpc(1, "write", 15, 124, 4)), Replies{success(1)});
  ::srandom(1234);
  std::vector<unsigned> bytes;
  for (int i = 0; i < 4; ++i) bytes.push_back(static_cast<unsigned>(::random() & 0xFF));
  for (int i = 0; i < 4; ++i) EXPECT_EQ(tdm().read(10236 + i), bytes[i]) << i;
  EXPECT_EQ(request(testBpc(2, "read", 15, 124, 4)), Replies{success(2)});
  EXPECT_EQ(request(testBpc(3, "disconnect", 15, 124, 4)), Replies{success(3)});
  EXPECT_EQ(tdm().read(10236), 0xFF);
}

TEST_F(BusTestTest, EmptyRangeSucceedsInEveryModeAndAModeBeyondTheThreeIsRefused) {
  connect(tests);
  board().clear_journal();
  EXPECT_EQ(request(testBpc(1, "read", 0, 5, 0)), Replies{success(1)});
  EXPECT_EQ(request(testBpc(2, "write", 0, 5, 0)), Replies{success(2)});
  EXPECT_EQ(request(testBpc(3, "disconnect", 0, 5, 0)), Replies{success(3)});
  for (const std::string& l : journal()) EXPECT_FALSE(contains(l, "8197")) << l;
  // The coder lets no other mode through; one built here that names none.
  LGCP::Command unnamed;
  unnamed.select_testBpc();
  EXPECT_TRUE(tests.OnCommand(unnamed));
  std::vector<unsigned char> payload;
  ASSERT_TRUE(controller.frame(payload));
  EXPECT_TRUE(contains(linktest::decode(payload), "pdu response : error : invalidParams }"));
}

// A range that runs past its bus would drive the next bus's outputs, or
// from bus 15 outputs beyond the matrix: refused before the matrix is
// touched. A range that ends on the bus's last timeslot is run.
TEST_F(BusTestTest, RangeBeyondItsBusIsRefusedAndTouchesNoChannel) {
  connect(tests);
  board().clear_journal();
  EXPECT_EQ(request(testBpc(1, "write", 15, 127, 127)), Replies{hwtest::error(1, "invalidParams")});
  EXPECT_EQ(request(testBpc(2, "read", 0, 100, 29)), Replies{hwtest::error(2, "invalidParams")});
  EXPECT_EQ(request(testBpc(3, "disconnect", 3, 2, 127)), Replies{hwtest::error(3, "invalidParams")});
  for (const std::string& l : journal()) EXPECT_FALSE(contains(l, std::string(sysroot::hal) + " 0x")) << l;
  EXPECT_TRUE(contains(err(), "bus 15: test refused: timeslots 127 + 127 beyond the bus\n")) << err();
  board().clear_journal();
  EXPECT_EQ(request(testBpc(4, "write", 0, 100, 28)), Replies{success(4)});
  unsigned writes = 0;
  for (const std::string& l : journal()) writes += contains(l, " 0xC0084D04 ");
  EXPECT_EQ(writes, 28u);
}

}  // namespace
