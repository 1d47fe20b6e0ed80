// HDLC channels on the simulated controller, through the real loop: two
// channels on trunks cabled together talk to each other.
#include "hardware/hdlc.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <deque>
#include <functional>
#include <memory>
#include <sstream>
#include <string>
#include <vector>

#include "hardware/hw_mux.h"
#include "platform/mcc_records.h"
#include "platform/sim/mcc_model.h"
#include "runtime/packet_pool.h"
#include "runtime/traces.h"
#include "tests/sim_board_fixture.h"
#include "tests/skip_reason.h"

namespace {

using hwtest::contains;
using Bytes = std::vector<std::uint8_t>;

Packet packetOf(const Bytes& b) {
  Packet p;
  p.reserve_head(0);
  if (!b.empty()) std::memcpy(p.put(static_cast<unsigned>(b.size())), b.data(), b.size());
  return p;
}

// Frame i of a run: 1..300 octets (frame 1 the longest) that say which frame
// they are.
Bytes frameOf(int i, int salt) {
  Bytes b(static_cast<std::size_t>(i == 1 ? 300 : i * 37 % 300 + 1));
  for (std::size_t k = 0; k < b.size(); ++k) b[k] = static_cast<std::uint8_t>(i * 7 + salt + k);
  return b;
}

// An owner of a channel: sends what it is given in order, keeping a refused
// frame for the next readiness, and records what comes back.
struct Owner : HDLC::Notify {
  HDLC ch;
  std::deque<Bytes> out;
  std::vector<Bytes> got;
  std::vector<int> errors;
  int readies = 0;
  int refusals = 0;
  bool closeOnReceive = false;
  std::function<void()> onReceive;

  Owner(int trunk, int timeslot, int mode = 1) {
    ch.set_trunk(trunk);
    ch.set_timeslot(timeslot);
    ch.set_tdm(trunk * 32 + timeslot);
    ch.set_mode(mode);
    ch.bind(this);
  }
  void on_hdlc_receive(Packet& p) override {
    got.emplace_back(p.data(), p.data() + p.length());
    if (closeOnReceive) ch.deactivate();
    if (onReceive) onReceive();
  }
  void on_hdlc_error(Cause::Type cause) override { errors.push_back(cause); }
  void on_hdlc_ready() override {
    ++readies;
    pump();
  }
  void pump() {
    while (!out.empty()) {
      Packet p = packetOf(out.front());
      if (!ch.hdlc_transmit(p)) {
        ++refusals;
        return;
      }
      out.pop_front();
    }
  }
};

class HdlcTest : public hwtest::SimBoardTest {
 protected:
  void SetUp() override {
    hwtest::SimBoardTest::SetUp();
    sim::Mcc::instance().reset_settings();
    traces.signalling_hdlc = false;
    command("cable 0 1");
  }
  void TearDown() override {
    traces.signalling_hdlc = false;
    hwtest::SimBoardTest::TearDown();
  }
  // Runs the loop until cond holds or a generous deadline passes.
  static bool drive(const std::function<bool()>& cond, std::chrono::seconds deadline = std::chrono::seconds(60)) {
    const auto end = std::chrono::steady_clock::now() + deadline;
    while (!cond()) {
      if (std::chrono::steady_clock::now() > end) return false;
      multiplexer.run_once(20);
    }
    return true;
  }
  static void passes(int n) {
    for (int i = 0; i < n; ++i) multiplexer.run_once(5);
  }
  // Journal lines of one device.
  static std::vector<std::string> journalOf(const std::string& path) {
    std::vector<std::string> out;
    for (const std::string& l : board().journal())
      if (contains(l, " " + path + " ")) out.push_back(l);
    return out;
  }

  // Two channels on trunk 0 and trunk 1 timeslot 16 send each other n frames.
  void exchange(Owner& a, Owner& b, int n) {
    for (int i = 0; i < n; ++i) {
      a.out.push_back(frameOf(i, 0));
      b.out.push_back(frameOf(i, 128));
    }
    ASSERT_TRUE(a.ch.activate());
    ASSERT_TRUE(b.ch.activate());
    ASSERT_TRUE(drive([&] { return a.got.size() >= std::size_t(n) && b.got.size() >= std::size_t(n); }))
        << a.got.size() << " " << b.got.size();
    passes(3);
    ASSERT_EQ(b.got.size(), std::size_t(n));
    ASSERT_EQ(a.got.size(), std::size_t(n));
    for (int i = 0; i < n; ++i) {
      ASSERT_EQ(b.got[i], frameOf(i, 0)) << "frame " << i << " from trunk 0";
      ASSERT_EQ(a.got[i], frameOf(i, 128)) << "frame " << i << " from trunk 1";
    }
  }
};

TEST_F(HdlcTest, ActivationAllocatesInTheModesDriverModeSwitchesBothWaysAndIsReadyOnce) {
  Owner a(0, 16);
  ASSERT_TRUE(a.ch.activate());
  EXPECT_TRUE(a.ch.is_open());
  EXPECT_FALSE(a.ch.is_ready());
  const mcc::MccAllocate rec{mcc::hdlc, 512, 0, 1, 4};
  const std::string mccPath = sysroot::mcc_ctl;
  EXPECT_EQ(journalOf(mccPath), (std::vector<std::string>{
                                    "open " + mccPath + " rdwr|nonblock -> 0",
                                    "ioctl " + mccPath + " 0x40144D00 rec=" + hwtest::hex(rec) +
                                        " -> 0 (allocate mode 0: channel 1024)",
                                    "ioctl " + mccPath + " 0x20004D02 val=0 -> 1024",
                                }));
  EXPECT_EQ(tdm().output(16).source, 1024);  // the controller sends onto the line
  EXPECT_EQ(tdm().output(1024).source, 16);  // and hears it
  ASSERT_TRUE(drive([&] { return a.readies > 0; }));
  passes(5);
  EXPECT_EQ(a.readies, 1);
  EXPECT_TRUE(a.ch.is_ready());
  EXPECT_EQ(cerr_.take(), "");

  // The mode picks the driver's; mode 2 sends on its transmit channel.
  Owner ss7(2, 16, 0), bri(1, 16, 2);
  bri.ch.set_transmit(9000);
  board().clear_journal();
  ASSERT_TRUE(ss7.ch.activate());
  ASSERT_TRUE(bri.ch.activate());
  const std::vector<std::string> j = journalOf(sysroot::mcc_ctl);
  ASSERT_EQ(j.size(), 6u);
  EXPECT_TRUE(contains(j[1], "rec=" + hwtest::hex(mcc::MccAllocate{mcc::ss7, 512, 0, 1, 4}) + " -> 0"));
  EXPECT_TRUE(contains(j[4], "rec=" + hwtest::hex(mcc::MccAllocate{mcc::bri, 512, 0, 1, 4}) + " -> 0"));
  EXPECT_EQ(tdm().output(9000).source, 1026);  // sends on the transmit channel
  EXPECT_EQ(tdm().output(1026).source, 48);    // hears the line
  EXPECT_EQ(tdm().output(48).drive, sim::Tdm::Drive::undriven);
}

// Whatever closes a channel, the next holder of its controller channel
// must neither hear the line nor send onto it.
TEST_F(HdlcTest, ClosingUndoesBothPathsBeforeTheControllerChannelGoes) {
  Owner a(2, 7);
  ASSERT_TRUE(a.ch.activate());
  EXPECT_EQ(a.ch.channel(), 1024);
  board().clear_journal();
  a.ch.deactivate();
  EXPECT_EQ(a.ch.channel(), -1);
  EXPECT_EQ(tdm().output(1024).drive, sim::Tdm::Drive::undriven);
  EXPECT_EQ(tdm().output(71).drive, sim::Tdm::Drive::constant);
  EXPECT_EQ(tdm().output(71).value, 0xD5);
  passes(3);  // the board sees the close
  const std::vector<std::string> j = board().journal();
  const auto at = [&j](const std::string& part) {
    return std::find_if(j.begin(), j.end(), [&](const std::string& l) { return contains(l, part); }) - j.begin();
  };
  const auto closed = at("close " + std::string(sysroot::mcc_ctl));
  ASSERT_LT(closed, static_cast<long>(j.size()));
  EXPECT_LT(at("(disable 1024)"), closed);
  EXPECT_LT(at("(write 71 = 0xD5)"), closed);

  // Activated again, the old channel's paths go before the new one's come.
  ASSERT_TRUE(a.ch.activate());
  ASSERT_TRUE(a.ch.activate());
  EXPECT_EQ(tdm().output(71).source, a.ch.channel());
  EXPECT_EQ(tdm().output(a.ch.channel()).source, 71);
  for (int m = 1024; m < 1030; ++m) {
    const auto expected = m == a.ch.channel() ? sim::Tdm::Drive::source : sim::Tdm::Drive::undriven;
    EXPECT_EQ(tdm().output(m).drive, expected) << m;
  }

  // A line taken by another channel since is left to it; mode 2's transmit
  // channel is released like the line.
  Owner b(2, 7), bri(1, 16, 2);
  bri.ch.set_transmit(9000);
  ASSERT_TRUE(b.ch.activate());
  ASSERT_TRUE(bri.ch.activate());
  const int mb = b.ch.channel();
  a.ch.deactivate();
  EXPECT_EQ(tdm().output(71).source, mb);
  bri.ch.deactivate();
  EXPECT_EQ(tdm().output(9000).drive, sim::Tdm::Drive::undriven);
  EXPECT_EQ(tdm().output(48).drive, sim::Tdm::Drive::undriven);

  // A read error closes the channel: the same.
  command("mcc error " + std::to_string(mb));
  ASSERT_TRUE(drive([&] { return !b.errors.empty(); }));
  EXPECT_EQ(tdm().output(mb).drive, sim::Tdm::Drive::undriven);
  EXPECT_EQ(tdm().output(71).value, 0xD5);
  cerr_.take();
}

// tshark, when installed, reads the tap back: frame for frame what was sent.
TEST_F(HdlcTest, TwoChannelsOnCabledTrunksExchangeTwoHundredFramesEachWayInOrderAndTheTapHoldsThem) {
  command("mcc tap 1024 a.pcap lapd tx");
  Owner a(0, 16), b(1, 16);
  exchange(a, b, 200);
  EXPECT_EQ(a.ch.counters().sent, 200u);
  EXPECT_EQ(b.ch.counters().received, 200u);
  EXPECT_GT(a.refusals, 0);  // the queue filled and readiness brought the rest
  EXPECT_EQ(a.readies, a.refusals + 1);
  EXPECT_EQ(a.errors.size() + b.errors.size(), 0u);
  EXPECT_NE(command("mcc")[0].find("tap lapd tx 200 "), std::string::npos);

  if (std::system("tshark -v >/dev/null 2>&1") != 0)
    GTEST_SKIP() << testkit::missing("tshark") << ": no independent check of the tap";
  FILE* p = ::popen(("tshark -r " + root_.dir() + "/a.pcap -x 2>/dev/null").c_str(), "r");
  ASSERT_NE(p, nullptr);
  std::string text;
  char buf[4096];
  while (std::fgets(buf, sizeof buf, p)) text += buf;
  ASSERT_EQ(::pclose(p), 0) << text;
  // One hex block per frame: "0000  01 02 ...   ascii", blocks apart by an empty line.
  std::vector<Bytes> frames(1);
  std::istringstream lines(text);
  for (std::string line; std::getline(lines, line);) {
    if (line.empty()) {
      if (!frames.back().empty()) frames.emplace_back();
      continue;
    }
    std::istringstream hexes(line.substr(6, 48));
    for (std::string h; hexes >> h;) frames.back().push_back(static_cast<std::uint8_t>(std::stoul(h, nullptr, 16)));
  }
  if (frames.back().empty()) frames.pop_back();
  ASSERT_EQ(frames.size(), 200u);
  for (int i = 0; i < 200; ++i) ASSERT_EQ(frames[i], frameOf(i, 0)) << "frame " << i;
}

TEST_F(HdlcTest, StalledReceiverMakesTheSenderSeeAFullQueueAndOneReadyAfterResume) {
  Owner a(0, 16), b(1, 16);
  ASSERT_TRUE(a.ch.activate());
  ASSERT_TRUE(b.ch.activate());
  ASSERT_TRUE(drive([&] { return a.readies == 1 && b.readies == 1; }));
  command("mcc stall 1025");
  // Offer frames whenever the channel is ready, until it stays refused: the
  // stalled receiver's queue fills, the frame on the line waits for it, and
  // the sender's own queue fills behind it.
  int offered = 0;
  int quiet = 0;
  int lastReadies = a.readies;
  ASSERT_TRUE(drive([&] {
    while (a.out.empty() && a.ch.is_ready()) {
      a.out.push_back(frameOf(offered++, 0));
      a.pump();
    }
    if (a.readies != lastReadies) {
      lastReadies = a.readies;
      quiet = 0;
      return false;
    }
    return ++quiet >= 50;
  }));
  EXPECT_FALSE(a.ch.is_ready());
  EXPECT_EQ(a.out.size(), 1u);  // the refused frame, kept by its owner
  EXPECT_GT(a.refusals, 0);
  EXPECT_LT(offered, 100);  // a queue of a few frames, not the whole socket buffer
  EXPECT_TRUE(b.got.empty());
  const int readiesBefore = a.readies;

  command("mcc resume 1025");
  ASSERT_TRUE(drive([&] { return b.got.size() == std::size_t(offered); })) << b.got.size() << " of " << offered;
  passes(10);
  EXPECT_EQ(a.readies, readiesBefore + 1);  // exactly one: the kept frame went out from it
  EXPECT_TRUE(a.out.empty());
  for (int i = 0; i < offered; ++i) ASSERT_EQ(b.got[i], frameOf(i, 0)) << i;
}

TEST_F(HdlcTest, OwnerMayCloseOrDestroyTheChannelFromItsReceiveCallback) {
  Owner a(0, 16), b(1, 16);
  b.closeOnReceive = true;
  for (int i = 0; i < 3; ++i) a.out.push_back(frameOf(i, 0));
  ASSERT_TRUE(a.ch.activate());
  ASSERT_TRUE(b.ch.activate());
  ASSERT_TRUE(drive([&] { return !b.got.empty() && a.out.empty(); }));
  passes(30);
  EXPECT_EQ(b.got.size(), 1u);  // reading ends without an error
  EXPECT_FALSE(b.ch.is_open());
  EXPECT_TRUE(b.errors.empty());
  EXPECT_FALSE(contains(cerr_.take(), "read error"));

  auto c = std::make_unique<Owner>(1, 16);
  c->onReceive = [&] { c.reset(); };
  for (int i = 0; i < 3; ++i) a.out.push_back(frameOf(i, 0));
  ASSERT_TRUE(c->ch.activate());
  a.pump();
  ASSERT_TRUE(drive([&] { return !c && a.out.empty(); }));
  passes(10);
}

TEST_F(HdlcTest, ClosedChannelCountsOfferedFramesUnboundOneDropsThemAndEmptyFramesTouchNothing) {
  Owner a(0, 16), b(1, 16);
  Packet p = packetOf(frameOf(1, 0));
  EXPECT_FALSE(a.ch.hdlc_transmit(p));
  EXPECT_EQ(a.ch.counters().discarded, 1u);
  ASSERT_TRUE(a.ch.activate());
  EXPECT_EQ(a.ch.counters().discarded, 0u);  // activation starts the counts again
  ASSERT_TRUE(b.ch.activate());
  b.ch.unbind();
  ASSERT_TRUE(drive([&] { return a.readies == 1; }));
  Packet none;
  Packet empty = packetOf({});
  EXPECT_TRUE(a.ch.hdlc_transmit(none));
  EXPECT_TRUE(a.ch.hdlc_transmit(empty));
  EXPECT_EQ(a.ch.counters().sent, 0u);
  a.out.push_back(frameOf(1, 0));
  a.pump();
  ASSERT_TRUE(drive([&] { return b.ch.counters().received == 1; }));
  EXPECT_TRUE(b.got.empty());
  EXPECT_EQ(b.readies, 0);
}

TEST_F(HdlcTest, ReadErrorClosesTheChannelAndReportsCauseZeroOnce) {
  Owner a(0, 16), b(1, 16);
  ASSERT_TRUE(a.ch.activate());
  ASSERT_TRUE(b.ch.activate());
  ASSERT_TRUE(drive([&] { return b.readies == 1; }));
  command("mcc error 1025");
  ASSERT_TRUE(drive([&] { return !b.errors.empty(); }, std::chrono::seconds(10)));
  passes(10);
  EXPECT_EQ(b.errors, (std::vector<int>{HDLC::Notify::Cause::read_error}));
  EXPECT_FALSE(b.ch.is_open());
  // The board closed its end with nothing of ours unread: the read finds the
  // end of the stream, which is an error too (not "try again").
  EXPECT_EQ(cerr_.take(), "hdlc [1/16]: read error: Broken pipe\n");
  // The owner may start again: a new controller channel.
  ASSERT_TRUE(b.ch.activate());
  ASSERT_TRUE(drive([&] { return b.readies == 2; }));
}

TEST_F(HdlcTest, HardWriteErrorClosesTheChannelAndIsReportedOnTheNextPass) {
  Owner a(0, 16);
  ASSERT_TRUE(a.ch.activate());
  ASSERT_TRUE(drive([&] { return a.readies == 1; }));
  command("mcc error 1024");
  Packet p = packetOf(frameOf(3, 0));
  EXPECT_FALSE(a.ch.hdlc_transmit(p));
  EXPECT_TRUE(a.errors.empty());  // not from inside the owner's own call
  EXPECT_EQ(a.ch.counters().errors, 1u);
  EXPECT_FALSE(a.ch.is_open());
  EXPECT_EQ(cerr_.take(), "hdlc [0/16]: write error: Broken pipe\n");
  passes(3);
  EXPECT_EQ(a.errors, (std::vector<int>{HDLC::Notify::Cause::write_error}));
  EXPECT_FALSE(a.ch.hdlc_transmit(p));
  EXPECT_EQ(a.ch.counters().discarded, 1u);
}

TEST_F(HdlcTest, DriverRefusalsAreLoggedAndLeaveTheMatrixUntouched) {
  Owner a(0, 16);
  command("refuse-open mcc/ctl");
  EXPECT_FALSE(a.ch.activate());
  command("refuse-open mcc/ctl off");
  command("fail mcc/ctl 40144D00 ENOSPC 1");
  EXPECT_FALSE(a.ch.activate());
  command("fail mcc/ctl 20004D02 EIO 1");
  EXPECT_FALSE(a.ch.activate());
  a.ch.set_mode(3);  // no driver mode for it
  EXPECT_FALSE(a.ch.activate());
  a.ch.set_mode(1);
  EXPECT_FALSE(a.ch.is_open());
  EXPECT_EQ(cerr_.take(),
            "hdlc [0/16]: fail to open MCC device: No such device\n"
            "hdlc [0/16]: MCC_ALLOCATE fail: No space left on device\n"
            "hdlc [0/16]: MCC_TIMESLOT fail: Input/output error\n"
            "hdlc [0/16]: MCC_ALLOCATE fail: Invalid argument\n");
  EXPECT_EQ(tdm().output(16).drive, sim::Tdm::Drive::undriven);
  EXPECT_EQ(tdm().output(1024).drive, sim::Tdm::Drive::undriven);
  passes(3);  // the refused descriptors are closed: the channel is free again
  ASSERT_TRUE(a.ch.activate());
  EXPECT_EQ(tdm().output(16).source, 1024);
}

TEST_F(HdlcTest, DropsOnDemandLoseEveryNthFrame) {
  command("mcc drop 1025 3");
  Owner a(0, 16), b(1, 16);
  for (int i = 0; i < 9; ++i) a.out.push_back(frameOf(i, 0));
  ASSERT_TRUE(a.ch.activate());
  ASSERT_TRUE(b.ch.activate());
  ASSERT_TRUE(drive([&] { return b.got.size() == 6; }));
  passes(20);
  ASSERT_EQ(b.got.size(), 6u);
  const int kept[] = {0, 1, 3, 4, 6, 7};
  for (int k = 0; k < 6; ++k) EXPECT_EQ(b.got[k], frameOf(kept[k], 0));
  EXPECT_NE(command("mcc")[1].find(" received 6 dropped 3 queued 0 drop-every 3"), std::string::npos);
}

TEST_F(HdlcTest, EmptyPacketPoolDropsReceivedFramesWithOneLineEach) {
  Owner a(0, 16), b(1, 16);
  ASSERT_TRUE(a.ch.activate());
  ASSERT_TRUE(b.ch.activate());
  ASSERT_TRUE(drive([&] { return a.readies == 1 && b.readies == 1; }));
  for (int i = 0; i < 4; ++i) a.out.push_back(frameOf(i, 0));
  a.pump();
  // Every buffer taken: none is left to read the frames into.
  std::vector<Packet> held;
  while (packet_pool().available() > 0) held.push_back(packetOf({1}));
  std::string log;
  ASSERT_TRUE(drive([&] {
    log += clog_.take();
    std::size_t lines = 0;
    for (std::size_t at = 0; (at = log.find("hdlc [1/16]: rx frame of ", at)) != std::string::npos; ++at) ++lines;
    return lines == 4;
  })) << log;
  EXPECT_EQ(b.ch.counters().received, 0u);
  EXPECT_TRUE(contains(log, "hdlc [1/16]: rx frame of 1 octets dropped: no free packet\n")) << log;
  held.clear();
  a.out.push_back(frameOf(9, 0));
  a.pump();
  ASSERT_TRUE(drive([&] { return !b.got.empty(); }));
  EXPECT_EQ(b.got.back(), frameOf(9, 0));
}

// A receiver that notes the buffer of every frame and may keep the frames.
struct Keeper : Owner {
  using Owner::Owner;
  bool keep = false;
  std::vector<const _Packet*> buffers;
  std::vector<Packet> kept;
  void on_hdlc_receive(Packet& p) override {
    buffers.push_back(p.get());
    if (keep) kept.push_back(p);
    Owner::on_hdlc_receive(p);
  }
};

TEST_F(HdlcTest, AFrameNoReceiverKeptLeavesItsBufferForTheNextAndAKeptOneStaysIntact) {
  const std::uint32_t free = packet_pool().available();
  Owner a(0, 16);
  Keeper b(1, 16);
  for (int i = 0; i < 3; ++i) a.out.push_back(frameOf(i, 0));
  ASSERT_TRUE(a.ch.activate());
  ASSERT_TRUE(b.ch.activate());
  ASSERT_TRUE(drive([&] { return b.got.size() == 3; }));
  EXPECT_EQ(b.buffers[0], b.buffers[1]);
  EXPECT_EQ(b.buffers[0], b.buffers[2]);

  b.keep = true;
  for (int i = 3; i < 6; ++i) a.out.push_back(frameOf(i, 0));
  a.pump();
  ASSERT_TRUE(drive([&] { return b.got.size() == 6; }));
  // Each kept frame has a buffer of its own, left as it came.
  EXPECT_NE(b.buffers[3], b.buffers[4]);
  EXPECT_NE(b.buffers[4], b.buffers[5]);
  for (int i = 0; i < 3; ++i) {
    const Packet& k = b.kept[static_cast<std::size_t>(i)];
    EXPECT_EQ(Bytes(k.data(), k.data() + k.length()), frameOf(i + 3, 0)) << "frame " << i + 3;
  }
  for (int i = 0; i < 6; ++i) EXPECT_EQ(b.got[static_cast<std::size_t>(i)], frameOf(i, 0)) << "frame " << i;

  // A closed channel holds no buffer.
  a.ch.deactivate();
  b.ch.deactivate();
  b.kept.clear();
  EXPECT_EQ(free, packet_pool().available());
}

TEST_F(HdlcTest, TracesShowActivationFramesAndDeactivation) {
  traces.signalling_hdlc = true;
  Owner a(0, 16), b(1, 16);
  a.out.push_back({0x01, 0xAB});
  ASSERT_TRUE(a.ch.activate());
  ASSERT_TRUE(b.ch.activate());
  ASSERT_TRUE(drive([&] { return !b.got.empty(); }));
  b.ch.deactivate();
  const std::string text = clog_.take();
  // activate() starts by closing what was open (the matrix may come up in between).
  EXPECT_LT(text.find("hdlc [0/16]: deactivated\n"), text.find("hdlc [0/16]: activated\n")) << text;
  EXPECT_TRUE(contains(text, "HDLC[0]: tx 01 AB\n")) << text;
  EXPECT_TRUE(contains(text, "hdlc [1/16]: do_read\nHDLC[1]: rx 01 AB\n")) << text;
  EXPECT_TRUE(contains(text, "hdlc [1/16]: deactivated\n")) << text;
}

}  // namespace
