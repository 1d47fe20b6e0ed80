// The line chips as a control service on the simulated board, the status
// timer on the test clock.
#include "hardware/spi_ctrl.h"

#include <fcntl.h>
#include <gtest/gtest.h>

#include <memory>
#include <string>
#include <vector>

#include "tests/hardware/service_fixture.h"

namespace {

using hwtest::contains;
using Replies = std::vector<std::string>;

std::string lineStatus(int ch, const char* state, int slips) {
  return "{ pdu signal : trunkStatus : { trunk " + std::to_string(ch) + ", state " + state + ", slips " +
         std::to_string(slips) + ", lossBF 0, lossCarrier 0, lossAIS 0, lossRAI 0, name \"\", clockMaster FALSE, type bri } }";
}

// The register requests the journal shows, as "ch:addr=value" for writes.
std::string writes(const std::vector<std::string>& journal) {
  std::string out;
  for (const std::string& l : journal) {
    const std::size_t at = l.find("(spi ");
    if (at == std::string::npos || !contains(l, " write ")) continue;
    unsigned ch, addr, value;
    if (std::sscanf(l.c_str() + at, "(spi %u write %u = %u)", &ch, &addr, &value) == 3)
      out += (out.empty() ? "" : " ") + std::to_string(ch) + ":" + std::to_string(addr) + "=" + std::to_string(value);
  }
  return out;
}

class SpiTest : public hwtest::ServiceTest {
 protected:
  void start() {
    spi = std::make_unique<spiCtrl>();
    connect(*spi);
  }
  // The statuses of the next pass.
  Replies pass() {
    clock.advance(1000);
    return drain();
  }
  std::unique_ptr<spiCtrl> spi;
};

TEST_F(SpiTest, StartUpSetsUpChannelsZeroToSixAndTheClockMasterIsOneChannelOrNone) {
  spiCtrl chips;
  const std::string channel0 = "0:50=128 0:48=8 0:87=48 0:52=96 0:53=0 0:54=0 0:55=0 0:50=0";
  const std::string all = writes(journal());
  EXPECT_EQ(all.substr(0, channel0.size()), channel0);
  EXPECT_TRUE(contains(all, "6:55=0 6:50=0")) << all;
  EXPECT_FALSE(contains(all, "7:")) << all;
  EXPECT_TRUE(::fcntl(chips.fd(), F_GETFD) & FD_CLOEXEC);

  board().clear_journal();
  chips.clock(3);
  chips.clock(-1);
  chips.clock(8);
  chips.clock(-2);
  std::string slaves;
  for (int ch = 0; ch < 8; ++ch) slaves += (ch ? " " : "") + std::to_string(ch) + ":87=48";
  EXPECT_EQ(writes(journal()), slaves + " 3:87=56 " + slaves);
  EXPECT_TRUE(contains(log(), "spi: set clock master on channel 3\nspi: clock master disabled\n"
                              "spi: bad channel for set clock master 8\nspi: bad channel for set clock master -2\n"))
      << log();
}

TEST_F(SpiTest, StatusRegisterGivesTheLineStateAndEachLineLatchesItsOwnSlip) {
  start();
  EXPECT_TRUE(received.empty());
  command("spi 0 reg 51 0x00");  // no carrier, whatever else
  command("spi 1 reg 51 0xC1");  // no basic frame
  command("spi 2 reg 51 0x85");  // remote alarm
  command("spi 3 reg 51 0x45");  // alarm indication
  command("spi 4 reg 51 0xE5");  // in sync, with a slip
  command("spi 5 reg 51 0xE5");
  EXPECT_EQ(pass(), (Replies{lineStatus(0, "lossCarrier", 0), lineStatus(1, "lossBF", 0), lineStatus(2, "rai", 0),
                             lineStatus(3, "ais", 0), lineStatus(4, "normal", 1), lineStatus(5, "normal", 1),
                             lineStatus(6, "normal", 0), lineStatus(7, "normal", 0)}));
  command("spi 5 reg 51 0xC5");
  Replies next = pass();
  ASSERT_EQ(next.size(), 8u);
  EXPECT_EQ(next[4], lineStatus(4, "normal", 0));  // still slipping: reported once
  command("spi 5 reg 51 0xE5");
  next = pass();
  ASSERT_EQ(next.size(), 8u);
  EXPECT_EQ(next[5], lineStatus(5, "normal", 1));  // a new slip
  EXPECT_FALSE(spi->OnCommand(LGCP::Command()));
  disconnect();
  EXPECT_FALSE(spi->reporting());
}

TEST_F(SpiTest, HalWithoutSpiSwitchesTheServiceOffForGood) {
  start();
  EXPECT_EQ(pass().size(), 8u);
  command("spi absent");
  EXPECT_TRUE(pass().empty());
  EXPECT_EQ(linktest::count(log(), "spi: hal without spi\n"), 1u) << log();
  EXPECT_FALSE(spi->spi_present());
  disconnect();
  connect(*spi);
  EXPECT_FALSE(spi->reporting());
  board().clear_journal();
  spi->clock(2);
  spi->enable_channel(1);
  EXPECT_EQ(pass(), Replies{});
  EXPECT_TRUE(journal().empty());
}

}  // namespace
