// An RTP slot of the real daemon between a controller and a trunk: the
// session it begins on the simulated RTP driver, connections both ways,
// DTMF and packet detection from the drivers, a codec change, and the RTCP
// packets it sends to a UDP peer on the loopback, which tshark, an
// independent RTCP decoder, reads back from a capture of what the peer
// received.
#include <gtest/gtest.h>

#include <cstdint>
#include <string>
#include <vector>

#include "tests/e2e/lgcp_controller.h"
#include "tests/udp_peer.h"

namespace rtp_slot_test {  // named: see "Unity builds" in tests/README.md

using e2e::cmd;
using e2e::Lines;
using e2e::ok;
using e2e::refused;
using e2e::signal;
using Datagram = testkit::UdpPeer::Datagram;
using testkit::rtcpSsrc;

// The journal lines of the RTP driver and of the matrix's disables,
// without the records (their octets are the build's byte order).
Lines driverLines(const std::string& journal) {
  Lines out;
  std::size_t at = 0;
  for (std::size_t end; (end = journal.find('\n', at)) != std::string::npos; at = end + 1) {
    std::string line = journal.substr(at, end - at);
    if (line.find(sysroot::rtp) == std::string::npos &&
        line.find(std::string(sysroot::hal) + " 0x80044D03") == std::string::npos)
      continue;
    const std::size_t rec = line.find(" rec=");
    if (rec != std::string::npos) line.erase(rec, line.find(" -> ") - rec);
    out.push_back(line);
  }
  return out;
}

using RtpSlotScenario = e2e::ControllerTest;

TEST_F(RtpSlotScenario, ATrunkCallOverRtpFromCreateToDestroy) {
  start();
  testkit::UdpPeer peer;
  const int remote = peer.port() - 1;
  const int local = e2e::freePort();  // its RTCP socket binds local + 1
  for (const char* set :
       {"voice count 4 30", "voice count 2 20", "voice count 1 60", "voice count 8 4", "voice count 65 2"})
    board(set);
  // 1: the resource report carries the voice driver's counts.
  const Lines query = c.exchange("{ seq 1, pdu command : query : NULL }");
  ASSERT_EQ(query.size(), 2u);
  EXPECT_NE(query[1].find("rtp-g729 30, rtp-g723 20, rtp-g711 60, rtp-g711mcc 4,"), std::string::npos) << query[1];
  EXPECT_NE(query[1].find("universal 2 }"), std::string::npos) << query[1];
  // 2, 3: a trunk timeslot and an RTP slot; G.729 received, u-law sent.
  ASSERT_EQ(c.exchange(cmd(2, 1, "create : trunk : { trunk 1, timeslot 5 }")).size(), 3u);
  board("journal clear");
  EXPECT_EQ(c.exchange(cmd(3, 2,
                           "create : rtp : { codecRTP { payload ptG729, dhost { iaddr \"127.0.0.1\", port " +
                               std::to_string(remote) + " }, shost { iaddr \"0.0.0.0\", port " + std::to_string(local) +
                               " }, ssrc 287454020 }, txPayload ptG711-Ulaw, rxPayload ptG729 }")),
            (Lines{ok(3, 2), signal(2, "transmitter : active : 4096"), signal(2, "receiver : active : 4096")}));
  const std::string begin = "ioctl /dev/rtp 0xC02C5200 -> 0 (begin remote 127.0.0.1:" + std::to_string(remote) +
                            " local 0.0.0.0:" + std::to_string(local) +
                            " rx_pt 18 tx_pt 0 pf 0 vad 0 crate 0 ssrc 0x11223344 ttl 0 tos -1)";
  EXPECT_EQ(driverLines(board("journal")),
            (Lines{"open /dev/rtp rdonly|nonblock -> 0", begin, "ioctl /dev/rtp 0xC0105202 -> 0 (channel 4096)"}));
  const Datagram sdes = peer.next();
  ASSERT_GE(sdes.size(), 8u);
  EXPECT_EQ(sdes[1], 202);
  EXPECT_EQ(rtcpSsrc(sdes), 0x11223344u);
  // 4, 5: connected both ways; the session's input starts.
  board("journal clear");
  EXPECT_EQ(c.exchange(cmd(4, 1, "connect : 2")), Lines{ok(4, 1)});
  EXPECT_EQ(c.exchange(cmd(5, 2, "connect : 1")), Lines{ok(5, 2)});
  EXPECT_EQ(driverLines(board("journal")), Lines{"ioctl /dev/rtp 0x20005204 val=0 -> 0 (input on)"});
  EXPECT_EQ(matrix(4096), "4096 <- 37\n");
  EXPECT_EQ(matrix(37), "37 <- 4096\n");
  // 6: neither slot type is activated.
  EXPECT_EQ(c.exchange(cmd(6, 2, "activate : empty : NULL")), Lines{refused(6, 2, "unsupported")});
  // 7: a digit on the channel, and a packet detection of the session.
  EXPECT_EQ(c.exchange(cmd(7, 2, "ioctl : dtmf-enable : TRUE")), Lines{ok(7, 2)});
  board("dtmf 4096 5 time 77");
  EXPECT_EQ(c.next(), signal(2, "tonec : { timestamp 77, event dtmf : 5 }"));
  board("rtp 4096 pd 1 400");
  EXPECT_EQ(c.next(), signal(2, "rtp : pd : { value 1, timeout 400 }"));
  // The codec: the current payload changes nothing; another restarts the
  // session on the same channel, still fed by the trunk.
  board("journal clear");
  EXPECT_EQ(c.exchange(cmd(8, 2, "ioctl : encoder-mode : ulaw")), Lines{ok(8, 2)});
  EXPECT_EQ(driverLines(board("journal")), Lines{});
  EXPECT_EQ(c.exchange(cmd(9, 2, "ioctl : encoder-mode : alaw")), Lines{ok(9, 2)});
  std::string restarted = begin;
  restarted.replace(restarted.find("tx_pt 0"), 7, "tx_pt 8");
  EXPECT_EQ(driverLines(board("journal")), (Lines{"close /dev/rtp", "open /dev/rtp rdonly|nonblock -> 0", restarted,
                                                  "ioctl /dev/rtp 0xC0105202 -> 0 (channel 4096)",
                                                  "ioctl /dev/rtp 0x20005204 val=0 -> 0 (input on)"}));
  // 8: the slot goes: its session released, its channel disabled, a bye.
  board("journal clear");
  EXPECT_EQ(c.exchange(cmd(10, 2, "destroy : NULL")), Lines{ok(10, 2)});
  const Lines teardown = driverLines(board("journal"));
  EXPECT_EQ(
      teardown,
      (Lines{"ioctl /dev/rtp 0x20005205 val=0 -> 0 (input off)", "ioctl /dev/rtp 0x2000520A val=0 -> 0 (stop)",
             "ioctl /dev/rtp 0x20005203 val=0 -> 0 (end)", "ioctl /dev/rtp 0x2000520B val=0 -> 0 (channel 4096 free)",
             "ioctl /dev/rtp 0x8004520D -> 0 (pd off)", "ioctl /dev/hal 0x80044D03 -> 0 (disable 4096)",
             "close /dev/rtp"}));
  const Datagram bye = peer.next();
  ASSERT_EQ(bye.size(), 20u);
  EXPECT_EQ(bye[1], 203);
  EXPECT_EQ(rtcpSsrc(bye), 0x11223344u);
  // 9, 10.
  EXPECT_EQ(c.exchange(cmd(11, 1, "destroy : NULL")), Lines{ok(11, 1)});
  EXPECT_EQ(c.exchange(cmd(12, 2, "destroy : NULL")), Lines{refused(12, 2, "slotNotExists")});

  if (e2e::run("command -v tshark").status != 0)
    GTEST_SKIP() << testkit::missing("tshark") << ": the RTCP packets are not read back";
  const std::string capture = root.dir() + "/rtcp.pcap";
  ASSERT_TRUE(peer.writePcap(capture));
  EXPECT_EQ(e2e::run("(tshark -r " + capture + " -d udp.port==" + std::to_string(peer.port()) +
                     ",rtcp -T fields -e rtcp.pt -e rtcp.ssrc.identifier -e rtcp.length_check -e _ws.malformed "
                     "2>/dev/null)")
                .out,
            "202\t0x11223344\t1\t\n203\t0x11223344\t1\t\n");
}

}  // namespace rtp_slot_test
