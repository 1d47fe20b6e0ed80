// The slot commands of the real daemon, driven over TCP as a controller
// drives them, with the switching they cause read from the simulated
// board's matrix. The key exchange is checked octet for octet (vectors from
// an independent coder); the rest is written in value notation. The test
// build of the daemon (korvend-sim-probe) adds a test-only slot type whose
// destroy finishes late and which owns the tone and DSP receivers of its
// timeslot (tests/slots/probe_slot.h).
#include <gtest/gtest.h>

#include <memory>
#include <string>
#include <vector>

#include "tests/e2e/daemon_harness.h"
#include "tests/e2e/lgcp_controller.h"

namespace {

using namespace std::chrono_literals;
using e2e::cmd;
using e2e::Controller;
using e2e::Lines;
using e2e::ok;
using e2e::refused;
using e2e::signal;

using e2e::probeBinary;

using SlotCommands = e2e::ControllerTest;

TEST_F(SlotCommands, ATrunkTimeslotFeedsABusChannelThroughTheMatrix) {
  start();
  // seq 2, slot 1, create trunk { trunk 1, timeslot 5 }: success, then its
  // channel 37 as transmitter and as receiver.
  EXPECT_EQ(c.exchangeHex("C0 01 02 00 01 08 38 01 28"),
            (Lines{"C0 01 02 00 01 40", "40 00 01 8A 80 01 25", "40 00 01 89 80 01 25"}));
  EXPECT_EQ(c.exchange(cmd(3, 2, "create : map : { receiver { bus 1, channel 5 } }")),
            (Lines{ok(3, 2), signal(2, "receiver : active : 8325")}));
  EXPECT_EQ(c.exchange(cmd(4, 1, "connect : 2")), Lines{ok(4, 1)});
  EXPECT_EQ(matrix(8325), "8325 <- 37\n");
  EXPECT_EQ(c.exchange(cmd(5, 2, "disconnect : NULL")), Lines{ok(5, 2)});
  EXPECT_EQ(matrix(8325), "8325 = 0xD5\n");
  EXPECT_EQ(c.exchange(cmd(6, 2, "destroy : NULL")), Lines{ok(6, 2)});
  EXPECT_EQ(matrix(8325).rfind("8325 undriven (disabled", 0), 0u) << matrix(8325);
  EXPECT_EQ(c.exchange(cmd(7, 1, "destroy : NULL")), Lines{ok(7, 1)});
}

TEST_F(SlotCommands, WhatCannotBeDoneIsRefusedWithItsCause) {
  start();
  ASSERT_EQ(c.exchange(cmd(1, 1, "create : trunk : { trunk 1, timeslot 5 }")).size(), 3u);
  ASSERT_EQ(c.exchange(cmd(2, 3, "create : map : { transmitter { bus 2, channel 0 } }")).size(), 2u);
  EXPECT_EQ(c.exchange(cmd(3, 1, "connect : 3")), Lines{refused(3, 1, "connectFail")});
  EXPECT_EQ(c.exchange(cmd(4, 9, "destroy : NULL")), Lines{refused(4, 9, "slotNotExists")});
  // Slot numbers of 1024 and above, which a conforming coder cannot
  // write: as the request's slot (seq 5, ping) and as a connect's target
  // (seq 7, slot 3).
  EXPECT_EQ(c.exchangeHex("C0 01 05 04 00 18"), Lines{"80 01 05 62"});
  EXPECT_EQ(c.exchangeHex("C0 01 07 00 03 04 04 00"), Lines{"C0 01 07 00 03 62"});
  // A second slot on trunk 1 timeslot 5 takes it; the first is gone.
  EXPECT_EQ(c.exchange(cmd(8, 4, "create : trunk : { trunk 1, timeslot 5 }")),
            (Lines{ok(8, 4), signal(4, "transmitter : active : 37"), signal(4, "receiver : active : 37")}));
  EXPECT_EQ(c.exchange(cmd(9, 1, "destroy : NULL")), Lines{refused(9, 1, "slotNotExists")});
}

TEST_F(SlotCommands, ARefusedMoveKeepsTheOldPathAndARefusedDisconnectStillCuts) {
  start();
  ASSERT_EQ(c.exchange(cmd(1, 1, "create : trunk : { trunk 1, timeslot 5 }")).size(), 3u);
  ASSERT_EQ(c.exchange(cmd(2, 4, "create : trunk : { trunk 2, timeslot 0 }")).size(), 3u);
  ASSERT_EQ(c.exchange(cmd(3, 2, "create : map : { receiver { bus 1, channel 5 } }")).size(), 2u);
  ASSERT_EQ(c.exchange(cmd(4, 1, "connect : 2")), Lines{ok(4, 1)});
  board("fail hal 80084D02 EIO 1");
  EXPECT_EQ(c.exchange(cmd(5, 4, "connect : 2")), Lines{refused(5, 4, "connectFail")});
  EXPECT_EQ(matrix(8325), "8325 <- 37\n");
  board("fail hal C0084D04 EIO 1");
  EXPECT_EQ(c.exchange(cmd(6, 2, "disconnect : NULL")), Lines{refused(6, 2, "disconnectFail")});
  EXPECT_EQ(c.exchange(cmd(7, 2, "disconnect : NULL")), Lines{ok(7, 2)});
}

TEST_F(SlotCommands, QueryAndSighupEachReportTheFactoriesCountsOnce) {
  start(probeBinary());
  for (int n : {1, 2}) ASSERT_EQ(c.exchange(cmd(1, n, "create : spi-tdm : { channel 2000 }")), Lines{ok(1, n)});
  const std::string report =
      "{ pdu signal : query : { boardMajor 0, boardMinor 0, rtp-g729 0, rtp-g723 0, rtp-g711 0, rtp-g711mcc 0, "
      "modem 0, mixer { { unit 0, tdm_inputs 32, tdm_outputs 32, mixer_inputs 64, dpu_per_mixer 770, dpu_per_ec 17, "
      "dpu_per_lms 24 } }, mux TRUE, mcc-data 64, mcc-bri 64, mcc-trans 64, echoBus { }, t38-instances 0, "
      "digital-modems 0, lin16 2, universal 0 } }";
  EXPECT_EQ(c.exchange("{ seq 3, pdu command : query : NULL }"),
            (Lines{"{ seq 3, pdu response : success : NULL }", report}));
  daemon->signal(SIGHUP);
  EXPECT_EQ(c.next(), report);
  EXPECT_EQ(c.until(), Lines{});
}

TEST_F(SlotCommands, ALostControllerLeavesNoSlotBehindEvenOneStillReleasing) {
  start(probeBinary());
  ASSERT_EQ(c.exchange(cmd(1, 1, "create : trunk : { trunk 1, timeslot 5 }")).size(), 3u);
  ASSERT_EQ(c.exchange(cmd(2, 2, "create : map : { receiver { bus 1, channel 5 } }")).size(), 2u);
  ASSERT_EQ(c.exchange(cmd(3, 1, "connect : 2")), Lines{ok(3, 1)});
  ASSERT_EQ(c.exchange(cmd(4, 3, "create : usb-tdm : { channel 2100 }")).size(), 3u);
  ASSERT_EQ(c.exchange(cmd(5, 3, "destroy : NULL")), Lines{});  // still releasing
  c.close();
  ASSERT_TRUE(c.connect(port)) << daemon->err();
  EXPECT_EQ(matrix(8325).rfind("8325 undriven (disabled", 0), 0u) << matrix(8325);
  for (int n : {1, 2, 3}) EXPECT_EQ(c.exchange(cmd(6, n, "destroy : NULL")), Lines{refused(6, n, "slotNotExists")});
  EXPECT_EQ(c.exchange(cmd(7, 3, "create : usb-tdm : { channel 2100 }")).front(), ok(7, 3));
  // The probes' factory hands each trunk report to its slots: the reports
  // since the loss have met no dead one, and it counts one slot.
  const int reports = c.trunkReports();
  ASSERT_TRUE(e2e::waitFor([&] { return c.until().empty() && c.trunkReports() > reports; }));
  const Lines query = c.exchange("{ seq 8, pdu command : query : NULL }");
  ASSERT_EQ(query.size(), 2u);
  EXPECT_NE(query[1].find("lin16 1,"), std::string::npos) << query[1];
}

TEST_F(SlotCommands, DriverEventsOnASlotsTimeslotReachTheControllerAndALateDestroyIsAnsweredLate) {
  start(probeBinary());
  ASSERT_EQ(c.exchange(cmd(1, 4, "create : usb-tdm : { channel 40 }")),
            (Lines{ok(1, 4), signal(4, "transmitter : active : 40"), signal(4, "receiver : active : 40")}));
  const auto tonec = [](const std::string& event) {
    return signal(4, "tonec : { timestamp 77, event " + event + " }");
  };
  const struct {
    std::string inject, expected;
  } events[] = {
      {"dtmf 40 17 time 77", tonec("ced : NULL")},
      {"dtmf 40 768 time 77", tonec("iva : code : 3")},
      {"dtmf 40 5376 time 77", tonec("iva : ringoff : NULL")},
      {"dtmf 40 5632 time 77", ""},  // no signal: the next one comes first
      {"dtmf 40 5 time 77", tonec("dtmf : 5")},
      {"dsp 40 vad 1 1 0", signal(4, "vad : { vad-rx TRUE }")},
      {"dsp 40 sd 0", signal(4, "sd : { sd-rx FALSE }")},
      {"dsp 40 bss 0.5", signal(4, "bss : { score \"0.500000\" }")},
      {"dsp 40 tone 2100 1", signal(4, "tonec : { timestamp 0, event tone-presence : { freq 2100, presence TRUE } }")},
      {"dsp 40 flags 0x80000000 0x80000000", signal(4, "selcal : { in-progress TRUE }")},
  };
  for (const auto& e : events) {
    ASSERT_EQ(e2e::simboardctl(root.dir(), e.inject).status, 0) << e.inject;
    if (!e.expected.empty()) {
      EXPECT_EQ(c.next(), e.expected) << e.inject;
    }
  }
  EXPECT_EQ(c.until(), Lines{});
  // Destroys answered when the release has finished, with their own seq or
  // none.
  ASSERT_EQ(c.exchange(cmd(2, 5, "create : usb-tdm : { channel 41 }")).size(), 3u);
  EXPECT_EQ(c.exchange(cmd(3, 4, "destroy : NULL")), Lines{});
  EXPECT_EQ(c.exchange("{ slot 5, pdu command : destroy : NULL }"), Lines{});
  EXPECT_EQ(c.exchange(cmd(4, 4, "destroy : NULL")), Lines{refused(4, 4, "destroyInProgress")});
  // The release ends after the next userData (from the loop: the late
  // answer may come after a later request's).
  c.send(cmd(5, 4, "userData : '00'H"));
  EXPECT_EQ(c.take(2), (Lines{ok(5, 4), ok(3, 4)}));
  c.send(cmd(6, 5, "userData : '00'H"));
  EXPECT_EQ(c.take(2), (Lines{ok(6, 5), "{ slot 5, pdu response : success : NULL }"}));
  EXPECT_EQ(c.until(), Lines{});
}

}  // namespace
