#include "hardware/hw_mux.h"

#include <gtest/gtest.h>
#include <unistd.h>

#include <memory>
#include <string>
#include <vector>

#include "platform/hal_records.h"
#include "tests/sim_board_fixture.h"

namespace {

using hwtest::hex;

const std::string hal = sysroot::hal;

std::string disableLine(int ch) {
  return "ioctl " + hal + " 0x80044D03 rec=" + hex(hal::MatrixChannel{ch}) + " -> 0 (disable " + std::to_string(ch) +
         ")";
}

class HwMuxTest : public hwtest::SimBoardTest {
 protected:
  // A fresh matrix handle on the heap, so an out-of-table write cannot hide
  // in a neighbouring member.
  std::unique_ptr<HwMux> open() {
    auto mux = std::make_unique<HwMux>();
    clog_.take();
    board().clear_journal();
    return mux;
  }
  std::vector<std::string> journal() {
    std::vector<std::string> j = board().journal();
    board().clear_journal();
    return j;
  }
  sim::Tdm::Output out(int ch) { return tdm().output(ch); }
};

TEST_F(HwMuxTest, FirstUseDisablesEveryBusOutputInOrderBeforeItsOwnRequest) {
  HwMux mux;
  EXPECT_EQ(clog_.take(), "hwMux: init\nhwMux: device opened\n");
  EXPECT_TRUE(mux.Connect(5, 8200));
  const std::vector<std::string> j = journal();
  ASSERT_EQ(j.size(), 2u + 2048u);
  EXPECT_EQ(j[0], "open " + hal + " rdwr -> 0");
  for (int i = 0; i < 2048; ++i) ASSERT_EQ(j[1 + i], disableLine(8192 + i)) << i;
  EXPECT_EQ(j.back(), "ioctl " + hal + " 0x80084D02 rec=" + hex(hal::MatrixConnect{8200, 5}) + " -> 0 (connect 8200 <- 5)");
}

TEST_F(HwMuxTest, DescriptorZeroCountsAsOpen) {
  const int savedStdin = ::dup(0);
  ::close(0);
  {
    HwMux mux;  // the board hands out the lowest free descriptor: 0
    ASSERT_EQ(mux.fd(), 0);
    board().clear_journal();
    EXPECT_TRUE(mux.IsOpened());
    EXPECT_TRUE(mux.Disable(8300));
    EXPECT_EQ(journal().size(), 0u);  // no second open; the repeated disable is not journalled
  }
  ::dup2(savedStdin, 0);
  ::close(savedStdin);
}

TEST_F(HwMuxTest, ConnectRecordsBusDestinationsOnlyAndSendsDestinationFirst) {
  auto mux = open();
  EXPECT_TRUE(mux->Connect(5, 8200));
  EXPECT_EQ(mux->entry(8200), 5);
  EXPECT_EQ(out(8200).drive, sim::Tdm::Drive::source);
  EXPECT_EQ(out(8200).source, 5);

  EXPECT_TRUE(mux->Connect(8200, 5));
  EXPECT_EQ(mux->entry(8200), 5);  // unchanged: 5 is the destination now
  EXPECT_EQ(out(5).source, 8200);
  EXPECT_EQ(journal(), (std::vector<std::string>{
                           "ioctl " + hal + " 0x80084D02 rec=" + hex(hal::MatrixConnect{8200, 5}) + " -> 0 (connect 8200 <- 5)",
                           "ioctl " + hal + " 0x80084D02 rec=" + hex(hal::MatrixConnect{5, 8200}) + " -> 0 (connect 5 <- 8200)",
                       }));
}

// The bus test reaches channel 10366: requests beyond the table still go out,
// and the table (and what lies behind it) stays as it was.
TEST_F(HwMuxTest, ChannelsAboveTheTableAreSentButNeverRecorded) {
  auto mux = open();
  EXPECT_TRUE(mux->Connect(7, 10366));
  EXPECT_TRUE(mux->Disconnect(10366));
  EXPECT_TRUE(mux->Write(10300, 0x11));
  EXPECT_TRUE(mux->Disable(10300));
  EXPECT_TRUE(mux->Connect(7, 10240));
  EXPECT_EQ(out(10366).drive, sim::Tdm::Drive::constant);
  EXPECT_EQ(out(10240).source, 7);
  EXPECT_EQ(journal().size(), 5u);
  for (int ch = 8192; ch <= 10239; ++ch) ASSERT_EQ(mux->entry(ch), HwMux::disabled) << ch;
  EXPECT_EQ(mux->entry(10366), HwMux::disabled);
  // The sweep still covers exactly the table.
  for (int pass = 0; pass < 8; ++pass) multiplexer.run_once(0);
  EXPECT_EQ(out(10240).source, 7);
}

TEST_F(HwMuxTest, DisconnectDrivesTheIdleByteAndTheRefreshLeavesItAlone) {
  auto mux = open();
  EXPECT_TRUE(mux->Disconnect(8300));
  EXPECT_EQ(mux->entry(8300), HwMux::constant);
  EXPECT_EQ(journal(), (std::vector<std::string>{"ioctl " + hal + " 0xC0084D04 rec=" +
                                                 hex(hal::MatrixValue{8300, 0xD5}) + " -> 0 (write 8300 = 0xD5)"}));
  EXPECT_TRUE(mux->Write(8301, 0x5A));
  EXPECT_TRUE(mux->Connect(5, 8302));
  for (int pass = 0; pass < 10; ++pass) multiplexer.run_once(0);
  EXPECT_EQ(out(8300).drive, sim::Tdm::Drive::constant);
  EXPECT_EQ(out(8300).value, 0xD5);
  EXPECT_EQ(out(8301).value, 0x5A);
  EXPECT_EQ(out(8302).source, 5);
  EXPECT_EQ(journal().size(), 2u);  // the write and the connect; the refresh found nothing to change
  // Disabled outputs are re-sent on every sweep (the board counts them):
  // 10 passes are 2560 steps of the cursor, which passes entry 111 twice.
  EXPECT_EQ(out(8303).repeats, 2u);
}

TEST_F(HwMuxTest, ReleaseIdlesALineStopsAnyOtherOutputAndLeavesOneSwitchedElsewhere) {
  auto mux = open();
  // A trunk timeslot never goes quiet: it gets the idle byte; a controller
  // channel's receiver and a bus channel are no longer driven.
  EXPECT_TRUE(mux->Connect(1024, 71));
  EXPECT_TRUE(mux->Connect(71, 1024));
  EXPECT_TRUE(mux->Connect(1024, 8300));
  EXPECT_TRUE(mux->Release(71, 1024));
  EXPECT_TRUE(mux->Release(1024));
  EXPECT_TRUE(mux->Release(8300, 1024));
  EXPECT_EQ(out(71).drive, sim::Tdm::Drive::constant);
  EXPECT_EQ(out(71).value, 0xD5);
  EXPECT_EQ(out(1024).drive, sim::Tdm::Drive::undriven);
  EXPECT_EQ(out(8300).drive, sim::Tdm::Drive::undriven);
  EXPECT_EQ(mux->entry(8300), HwMux::disabled);

  // Switched to another source since, or driven with a constant, an output
  // is no longer the releaser's: it stays as it is, without a request.
  EXPECT_TRUE(mux->Connect(1024, 72));
  EXPECT_TRUE(mux->Connect(1025, 72));
  EXPECT_TRUE(mux->Connect(1024, 8301));
  EXPECT_TRUE(mux->Write(8301, 0x5A));
  EXPECT_TRUE(mux->Connect(1024, 2100));
  EXPECT_TRUE(mux->Connect(1026, 2100));
  journal();
  EXPECT_TRUE(mux->Release(72, 1024));
  EXPECT_TRUE(mux->Release(8301, 1024));
  EXPECT_TRUE(mux->Release(2100, 1024));
  EXPECT_TRUE(mux->Release(-1));
  EXPECT_EQ(journal(), std::vector<std::string>{});
  EXPECT_EQ(out(72).source, 1025);
  EXPECT_EQ(out(8301).value, 0x5A);
  EXPECT_EQ(out(2100).source, 1026);
  // Its owner's release works on any output.
  EXPECT_TRUE(mux->Release(2100, 1026));
  EXPECT_EQ(out(2100).drive, sim::Tdm::Drive::undriven);
}

TEST_F(HwMuxTest, RefreshReDisablesAnOutputDrivenByAccidentWithinEightPasses) {
  auto mux = open();
  multiplexer.run_once(0);  // two runs: entries 1..256 checked, the cursor rests on 256
  // Driven behind the matrix handle's back, just after the sweep went by.
  command("matrix connect 8448 17");
  for (int pass = 1; pass <= 7; ++pass) {
    multiplexer.run_once(0);
    ASSERT_EQ(out(8448).drive, sim::Tdm::Drive::source) << "pass " << pass;
  }
  multiplexer.run_once(0);
  EXPECT_EQ(out(8448).drive, sim::Tdm::Drive::undriven);
  EXPECT_EQ(journal(), (std::vector<std::string>{disableLine(8448)}));
}

TEST_F(HwMuxTest, RefusedOpenIsRetriedOnTheNextCall) {
  command("refuse-open hal ENODEV");
  HwMux mux;
  EXPECT_EQ(clog_.take(), "hwMux: init\nhwMux: can't open device: No such device\n");
  EXPECT_FALSE(mux.Connect(5, 8200));
  EXPECT_EQ(clog_.take(), "hwMux: can't open device: No such device\nhwMux: ERROR not opened\n");
  EXPECT_FALSE(mux.Disconnect(8200));
  EXPECT_FALSE(mux.Disable(8200));
  EXPECT_FALSE(mux.Write(8200, 1));
  EXPECT_EQ(mux.Read(8200), 255);
  std::string fourAttempts;
  for (int i = 0; i < 4; ++i) fourAttempts += "hwMux: can't open device: No such device\n";
  EXPECT_EQ(clog_.take(), fourAttempts);  // only the open attempts speak
  multiplexer.run_once(0);  // no refresh while closed
  EXPECT_EQ(board().journal().size(), 6u);  // six refused opens, nothing else
  EXPECT_EQ(board().journal().front(), "open " + hal + " rdwr -> -1 ENODEV");

  command("refuse-open hal off");
  board().clear_journal();
  EXPECT_TRUE(mux.Disable(8200));
  EXPECT_EQ(clog_.take(), "hwMux: device opened\n");
  const std::vector<std::string> j = journal();
  ASSERT_EQ(j.size(), 1u + 2048u);  // the open's disables; its own repeats one of them
  EXPECT_EQ(j[1], disableLine(8192));
}

TEST_F(HwMuxTest, RefusedRequestsAreLoggedAndReportedAfterTheTableChanged) {
  auto mux = open();
  command("fail hal 80084D02 EIO 1");
  EXPECT_FALSE(mux->Connect(5, 8200));
  EXPECT_EQ(mux->entry(8200), 5);  // the table records the requested state
  command("fail hal C0084D04 EBUSY 2");
  EXPECT_FALSE(mux->Disconnect(8201));
  EXPECT_FALSE(mux->Write(8202, 0x5A));
  EXPECT_EQ(mux->entry(8202), HwMux::constant);
  command("fail hal 80044D03 EPERM 1");
  EXPECT_FALSE(mux->Disable(8200));
  command("fail hal C0084D05 EAGAIN 1");
  EXPECT_EQ(mux->Read(8203), 255);
  EXPECT_EQ(clog_.take(),
            "hwMux: connect 5 -> 8200 failed: Input/output error\n"
            "hwMux: disconnect failed 8201 : Device or resource busy\n"
            "hwMux: write failed 8202 <- 0x5a : Device or resource busy\n"
            "hwMux: disable failed 8200 : Operation not permitted\n"
            "hwMux: read failed 8203 -> 0xff : Resource temporarily unavailable\n");
  // The refresh re-disables the output whose disable was refused.
  command("matrix connect 8200 3");
  for (int pass = 0; pass < 8; ++pass) multiplexer.run_once(0);
  EXPECT_EQ(out(8200).drive, sim::Tdm::Drive::undriven);
}

TEST_F(HwMuxTest, NegativeChannelsSendNothing) {
  auto mux = open();
  EXPECT_FALSE(mux->Connect(-1, 8200));
  EXPECT_FALSE(mux->Connect(5, -8200));
  EXPECT_EQ(clog_.take(), "hwMux: ERROR not opened\nhwMux: ERROR not opened\n");
  EXPECT_FALSE(mux->Disconnect(-1));
  EXPECT_FALSE(mux->Disable(-1));
  EXPECT_FALSE(mux->Write(-1, 0));
  EXPECT_EQ(mux->Read(-5), 255);
  EXPECT_EQ(clog_.take(), "");
  EXPECT_EQ(journal().size(), 0u);
}

TEST_F(HwMuxTest, ReadSamplesTheByteOnTheChannel) {
  auto mux = open();
  EXPECT_TRUE(mux->Write(8300, 0x5A));
  EXPECT_EQ(mux->Read(8300), 0x5A);
  EXPECT_TRUE(mux->Connect(8300, 8301));
  EXPECT_EQ(mux->Read(8301), 0x5A);
  EXPECT_EQ(mux->Read(8302), 0xFF);  // undriven
  EXPECT_TRUE(mux->Disconnect(8300));
  EXPECT_EQ(mux->Read(8301), 0xD5);
}

int depth(int n) {
  if (n == 0) {
    print_trace();
    return 0;
  }
  return depth(n - 1) + 1;
}

TEST(PrintTrace, DeepStackPrintsTheTenInnermostFrames) {
  testing::internal::CaptureStdout();
  volatile int calls = 15;
  depth(calls);
  const std::string text = testing::internal::GetCapturedStdout();
  ASSERT_EQ(text.rfind("Obtained 10 stack frames.\n", 0), 0u) << text;
  std::size_t lines = 0;
  for (char c : text) lines += c == '\n';
  EXPECT_EQ(lines, 11u) << text;
}

}  // namespace
