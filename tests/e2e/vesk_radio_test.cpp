// A VESK radio channel on the real daemon: an RTP slot with a VESK radio
// created by a controller, its extension session on the simulated RTP
// extension driver, the gateway's periodic status, packets from
// workstations reported as rtpExt signals, the controller's requests
// written to the channel, a codec change and the destroy. tshark reads the
// written payloads back from the board's capture.
#include <gtest/gtest.h>

#include <chrono>
#include <set>
#include <sstream>
#include <string>
#include <vector>

#include "tests/e2e/lgcp_controller.h"

namespace {

using e2e::cmd;
using e2e::Lines;
using e2e::ok;
using e2e::signal;

const char kFlags[] =
    "bss FALSE, vad-rx FALSE, vad-tx FALSE, sql FALSE, sh FALSE, pwr FALSE, rv FALSE, resv FALSE, selcall 0, li 0";

std::string radioCreate(int local) {
  return std::string("create : rtp : { codecRTP { payload ptG711-Alaw, dhost { iaddr \"127.0.0.1\", port ") +
         std::to_string(local) + " }, radio { status vesk : { flags { prio 15, ptt FALSE, " + kFlags +
         " }, freq { channel 1, frequency \"145.5\" }, remote { no 0, ch 0 }, squelshe on, rte a1b, "
         "standby-state-channel active, standby-group 0, standby-state-receiver active } } }, "
         "txPayload ptG711-Alaw, rxPayload ptG711-Alaw }";
}

std::string request(const std::string& params) {
  return "ioctl : rtpExt : vesk : { addr { session-addr \"10.0.0.9\", session-ssrc 9 }, params " + params + " }";
}

// The journal lines of the extension driver, without their records.
Lines extLines(const std::string& journal) {
  Lines out;
  std::istringstream lines(journal);
  for (std::string line; std::getline(lines, line);) {
    if (line.find(sysroot::rtp_ext) == std::string::npos) continue;
    const std::size_t rec = line.find(" rec=");
    if (rec != std::string::npos) line.erase(rec, line.find(" -> ") - rec);
    out.push_back(line);
  }
  return out;
}

bool endsWith(const std::string& text, const std::string& tail) {
  return text.size() >= tail.size() && text.compare(text.size() - tail.size(), tail.size(), tail) == 0;
}

struct Written {
  unsigned at;
  std::string bytes;  // hex
  int type() const { return std::stoi(bytes.substr(0, 2), nullptr, 16); }
  std::size_t size() const { return (bytes.size() + 1) / 3; }
};

class VeskRadio : public e2e::ControllerTest {
 protected:
  std::vector<Written> written() {
    std::vector<Written> out;
    std::istringstream lines(board("rtp-ext written last"));
    for (std::string line; std::getline(lines, line);) {
      const std::size_t sp = line.find(' ');
      out.push_back(Written{static_cast<unsigned>(std::stoul(line.substr(3, sp - 3))), line.substr(sp + 1)});
    }
    return out;
  }
  // The loop time the newest session was opened at.
  unsigned openedAt() {
    std::string listing = board("rtp-ext");
    const std::size_t at = listing.rfind(" open at=");
    return at == std::string::npos ? 0 : static_cast<unsigned>(std::stoul(listing.substr(at + 9)));
  }
  // Every rtpExt signal among the next messages, up to a ping's answer.
  Lines radioSignals() {
    Lines out;
    for (const std::string& m : c.until())
      if (m.find("pdu signal : rtpExt") != std::string::npos) out.push_back(m);
    return out;
  }
};

TEST_F(VeskRadio, AGatewayChannelFromCreateToDestroy) {
  start();
  board("rtp-ext pcap ext.pcap");
  board("journal clear");
  const int local = e2e::freePort() - 1;  // its RTCP socket binds the next port
  ASSERT_EQ(c.exchange(cmd(1, 3, radioCreate(local))),
            (Lines{ok(1, 3), signal(3, "transmitter : active : 4096"), signal(3, "receiver : active : 4096")}));
  // Its own extension session, joined to the RTP session the factory
  // opened, as the daemon's own.
  const Lines created = extLines(board("journal"));
  ASSERT_EQ(created.size(), 3u);
  EXPECT_EQ(created[0], "open /dev/rtp_ext rdwr|nonblock -> 0");
  EXPECT_EQ(created[1], "ioctl /dev/rtp_ext 0xC0144500 -> 0 (init 4919)");
  const std::string pid = " pid " + std::to_string(daemon->pid());
  EXPECT_TRUE(endsWith(created[2], pid + " channel 4096)")) << created[2];

  // At the first status period (1 s of the loop clock, the loop however
  // late a loaded machine makes it, but before a second period): the flag,
  // the channel, the remote control.
  std::set<int> types;
  const unsigned opened = openedAt();
  ASSERT_TRUE(e2e::waitFor([&] {
    types.clear();
    for (const Written& w : written())
      if (w.at - opened < 1900) types.insert(w.type());
    return types.count(129) && types.count(132) && types.count(134);
  })) << "opened at=" << opened << "\n" << board("rtp-ext written last");

  // Three GW_FLAG_PTT of priority 5 with push-to-talk, read in one go: one report.
  board("rtp-ext inject last 10.0.0.5 5 03 54 00 00 , 03 54 00 00 , 03 54 00 00");
  const std::string report = c.next();
  EXPECT_EQ(report.rfind("{ slot 3, pdu signal : rtpExt : { status vesk : { flags { prio 15, ptt FALSE,", 0), 0u)
      << report;
  EXPECT_NE(report.find("request vesk : { addr { session-addr \"10.0.0.5\", session-ssrc 5 }, params gw-set-ptt : "
                        "{ flags { prio 5, ptt TRUE,"),
            std::string::npos)
      << report;
  EXPECT_EQ(radioSignals(), Lines{});

  // The controller's WM_CHAN: one 16-octet packet at once. The status
  // period may write the old channel just before it, and the new one no
  // sooner than a period after it (both seen on a loaded machine).
  board("rtp-ext written last clear");
  EXPECT_EQ(c.exchange(cmd(2, 3, request("wm-chan : { freq { channel 3, frequency \"121.5\" }, squelshe on, "
                                         "rte a1b }"))),
            Lines{ok(2, 3)});
  std::vector<Written> chans;
  for (const Written& w : written())
    if (w.type() == 132 && w.bytes.find(" 42 F3 00 00") != std::string::npos) chans.push_back(w);  // 121.5
  ASSERT_FALSE(chans.empty()) << board("rtp-ext written last");
  EXPECT_EQ(chans[0].size(), 16u) << chans[0].bytes;
  for (std::size_t i = 1; i < chans.size(); ++i)
    EXPECT_GE(chans[i].at - chans[0].at, 900u) << board("rtp-ext written last");

  // The controller's push-to-talk at priority 5 before any session is
  // named: no filter (one for 0.0.0.0 would shut every position out), so
  // the access rule decides, by priority.
  board("journal clear");
  EXPECT_EQ(c.exchange(cmd(3, 3, request(std::string("wm-flags : { flags { prio 5, ptt TRUE, ") + kFlags + " } }"))),
            Lines{ok(3, 3)});
  EXPECT_EQ(board("journal").find("(filter"), std::string::npos);
  board("rtp-ext inject last 192.0.2.3 3 03 94 00 00");
  EXPECT_EQ(radioSignals(), Lines{});
  board("rtp-ext inject last 192.0.2.3 3 03 24 00 00");
  const Lines preempted = radioSignals();
  ASSERT_EQ(preempted.size(), 1u);
  EXPECT_NE(preempted[0].find("session-addr \"192.0.2.3\""), std::string::npos) << preempted[0];

  // The controller gives 192.0.2.3 the radio: the driver lets only that
  // session in, and a second position's push-to-talk, of whatever
  // priority, is dropped there.
  EXPECT_EQ(c.exchange(cmd(4, 3, request(std::string("wm-trans : { flags { prio 2, ptt TRUE, ") + kFlags +
                                         " }, ip \"192.0.2.3\", ssrc 3 }"))),
            Lines{ok(4, 3)});
  EXPECT_NE(board("rtp-ext").find(" filter 192.0.2.3 "), std::string::npos);
  board("rtp-ext inject last 192.0.2.1 1 03 14 00 00");
  EXPECT_EQ(radioSignals(), Lines{});
  EXPECT_NE(board("rtp-ext").find(" dropped=1"), std::string::npos) << board("rtp-ext");

  // A codec change: the extension session goes, the RTP session begins
  // again, and a new extension session joins the new one, with the filter.
  board("journal clear");
  EXPECT_EQ(c.exchange(cmd(5, 3, "ioctl : encoder-mode : ulaw")), Lines{ok(5, 3)});
  const Lines changed = extLines(board("journal"));
  // (The board hears of the old session's close on its next pass.)
  ASSERT_EQ(changed.size(), 6u) << board("journal");
  EXPECT_EQ(changed[0], "ioctl /dev/rtp_ext 0x20004502 -> 0 (detach)");
  EXPECT_EQ(changed[1], "open /dev/rtp_ext rdwr|nonblock -> 0");
  EXPECT_EQ(changed[2], "ioctl /dev/rtp_ext 0xC0144500 -> 0 (init 4919)");
  EXPECT_TRUE(endsWith(changed[3], pid + " channel 4096)")) << changed[3];
  EXPECT_EQ(changed[4], "ioctl /dev/rtp_ext 0xC0084504 -> 0 (filter 192.0.2.3)");
  EXPECT_EQ(changed[5], "close /dev/rtp_ext");
  board("rtp-ext inject last 192.0.2.1 1 03 14 00 00");
  board("rtp-ext inject last 192.0.2.3 3 03 24 00 00");
  const Lines after = radioSignals();
  ASSERT_EQ(after.size(), 1u);
  EXPECT_NE(after[0].find("session-addr \"192.0.2.3\""), std::string::npos) << after[0];
  const std::string listing = board("rtp-ext");
  EXPECT_NE(listing.find(" filter 192.0.2.3 queued=0 read=1 written="), std::string::npos) << listing;
  // Sent again, the same address asks nothing more of the driver.
  board("journal clear");
  EXPECT_EQ(c.exchange(cmd(6, 3, request(std::string("wm-trans : { flags { prio 2, ptt TRUE, ") + kFlags +
                                         " }, ip \"192.0.2.3\", ssrc 3 }"))),
            Lines{ok(6, 3)});
  EXPECT_EQ(board("journal").find("(filter"), std::string::npos);

  // The destroy detaches and closes it.
  board("journal clear");
  EXPECT_EQ(c.exchange(cmd(7, 3, "destroy : NULL")), Lines{ok(7, 3)});
  EXPECT_EQ(extLines(board("journal")), (Lines{"ioctl /dev/rtp_ext 0x20004502 -> 0 (detach)", "close /dev/rtp_ext"}));
  EXPECT_EQ(board("rtp-ext").find(" open "), std::string::npos);

  if (e2e::run("command -v tshark").status != 0)
    GTEST_SKIP() << testkit::missing("tshark") << ": the extension is not read back";
  const e2e::Ran read = e2e::run("tshark -r " + root.dir() + "/ext.pcap -d udp.port==5004,rtp -T fields "
                            "-e rtp.ext.profile -e rtp.hdr_ext 2>/dev/null | sort -u | head -3");
  EXPECT_NE(read.out.find("0x1337\t0x81"), std::string::npos) << read.out;
}

// Values the controller's types cannot carry (RTE 9, squelch 200): one
// line for the run, no report that could not be sent, and the channel goes
// on with the next valid packet.
TEST_F(VeskRadio, AWorkstationsValuesOutOfRangeAreLoggedOnceAndTheNextValidPacketIsReported) {
  start();
  ASSERT_EQ(c.exchange(cmd(1, 3, radioCreate(e2e::freePort() - 1))).size(), 3u);
  board("rtp-ext inject last 10.0.0.5 5 0C 50 00 00 09 00 00 00 , 0B 50 00 00 C8 00 00 00");
  EXPECT_EQ(radioSignals(), Lines{});
  board("rtp-ext inject last 10.0.0.5 5 0C 50 00 00 02 00 00 00");
  const Lines reports = radioSignals();
  ASSERT_EQ(reports.size(), 1u);
  EXPECT_NE(reports[0].find("params gw-set-rte : { rte a1b }"), std::string::npos) << reports[0];
  EXPECT_NE(reports[0].find("squelshe on, rte a1b"), std::string::npos) << reports[0];  // the status as it was
  const std::string err = daemon->err();
  EXPECT_EQ(e2e::count(err, "out of range"), 1u) << err;
  EXPECT_NE(err.find("packet type 12 from 10.0.0.5: rte 9 out of range, packet dropped"), std::string::npos) << err;
  EXPECT_EQ(err.find("encode error"), std::string::npos) << err;
  EXPECT_EQ(c.exchange(cmd(2, 3, "destroy : NULL")), Lines{ok(2, 3)});
}

}  // namespace
