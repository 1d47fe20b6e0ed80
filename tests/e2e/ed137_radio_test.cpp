// ED-137 radio channels on the real daemon: RTP slots with an ED-137 radio
// created by a controller, their extension sessions on the simulated RTP
// extension driver, the keep-alives (read back by tshark from the board's
// capture), the no-reception aborts, operator positions' PTT reported as
// rtpExt signals, the radio's type and mode, the input held until the
// squelch opens, and what is not ED-137.
#include <gtest/gtest.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <sstream>
#include <string>
#include <vector>

#include "platform/rtp_ext_records.h"
#include "tests/e2e/lgcp_controller.h"

namespace {

using e2e::cmd;
using e2e::Lines;
using e2e::ok;
using e2e::signal;
using Clock = std::chrono::steady_clock;
using std::chrono::milliseconds;

std::string header(const char* ptt, const char* squ) {
  return std::string("header { ptt ") + ptt + ", squ " + squ +
         ", ptt-id 0, ptt-mute FALSE, ptt-summation FALSE, sct FALSE }";
}

// A create with an ED-137 radio status; its RTCP port (the next one) is free.
std::string radioCreate(const std::string& status) {
  return "create : rtp : { codecRTP { payload ptG711-Alaw, dhost { iaddr \"127.0.0.1\", port " +
         std::to_string(e2e::freePort() - 1) + " }, radio { status ed-137 : { " + status +
         " } } }, txPayload ptG711-Alaw, rxPayload ptG711-Alaw }";
}
// The fields of a radio response: its type and mode, what comes before its
// PTT id and after it.
std::string response(const std::string& typeAndMode, const std::string& before = "", const std::string& after = "") {
  return ", radio-response { " + typeAndMode + before + ", ptt-id 0" + after + " }";
}
std::string rtpExt(const char* squ) {
  return "ioctl : rtpExt : ed-137 : { addr { session-addr \"10.0.0.9\", session-ssrc 9 }, params rx : { " +
         header("ptt-off", squ) + " } }";
}

bool has(const std::string& text, const std::string& part) { return text.find(part) != std::string::npos; }

// The words of the init record the journal shows in the build's byte order.
std::string initWords(const std::string& journal) {
  const std::size_t at = journal.find("ioctl /dev/rtp_ext 0xC0144500 rec=");
  if (at == std::string::npos) return "(no init)";
  std::istringstream octets(journal.substr(at + 34, 20 * 3));
  rtp_ext_init_params rec{};
  auto* p = reinterpret_cast<unsigned char*>(&rec);
  for (std::size_t i = 0; i < sizeof rec; ++i) {
    unsigned v = 0;
    octets >> std::hex >> v;
    p[i] = static_cast<unsigned char>(v);
  }
  char text[96];
  std::snprintf(text, sizeof text, "%u %u %u %u %u %u", rec.etype, rec.fill0, rec.fill[0], rec.fill[1], rec.fill[2],
                rec.fill[3]);
  return text;
}

class ED137Radio : public e2e::ControllerTest {
 protected:
  // The loop times of the payloads written on extension session n.
  std::vector<long> writtenAt(int n) {
    std::vector<long> out;
    std::istringstream lines(board("rtp-ext written " + std::to_string(n)));
    for (std::string line; std::getline(lines, line);) out.push_back(std::stol(line.substr(3)));
    return out;
  }
  // Every signal of a kind to a slot among the next messages, up to a ping's answer.
  Lines signals(int slot, const std::string& kind) {
    Lines out;
    for (const std::string& m : c.until())
      if (m.rfind(signal(slot, kind).substr(0, signal(slot, kind).size() - 2), 0) == 0) out.push_back(m);
    return out;
  }
  // Waits for the next abort of the slot: when it came, or the deadline.
  Clock::time_point nextAbort(int slot, Clock::time_point deadline) {
    for (Clock::time_point now; (now = Clock::now()) < deadline;)
      if (c.next(std::chrono::duration_cast<milliseconds>(deadline - now) + milliseconds(1)) ==
          signal(slot, "abort : 151"))
        return Clock::now();
    return deadline;
  }
  // The answer to a command, past the signals the slots send meanwhile.
  std::string reply(const std::string& command) {
    for (const std::string& m : c.exchange(command))
      if (has(m, "pdu response")) return m;
    return "(no answer)";
  }
  // The board's line of extension session n.
  std::string session(int n) {
    std::istringstream lines(board("rtp-ext"));
    for (std::string line; std::getline(lines, line);)
      if (line.rfind("session " + std::to_string(n) + " ", 0) == 0) return line;
    return "(no session " + std::to_string(n) + ")";
  }
};

TEST_F(ED137Radio, ANegotiatedRadioSessionFromCreateToDestroy) {
  start();
  board("rtp-ext pcap ext.pcap");
  board("journal clear");
  const Clock::time_point sent = Clock::now();
  ASSERT_EQ(c.exchange(cmd(1, 3,
                           radioCreate(header("ptt-off", "squ-on") +
                                       response("type radio-txrx, txrxmode txrx",
                                                ", r2s-keepalive-period 100, r2s-keepalive-multiplier 3") +
                                       ", sqi { bss-method c-n, bss-quality 20 }"))),
            (Lines{ok(1, 3), signal(3, "transmitter : active : 4096"), signal(3, "receiver : active : 4096")}));
  const std::string journal = board("journal");
  EXPECT_EQ(initWords(journal), "359 0 1 123 5 1");
  EXPECT_TRUE(has(journal, " pid -1 channel 4096)")) << journal;

  // Nothing received: an abort 151 on every tick (150 ms) from 300 ms on.
  for (int i = 0; i < 5; ++i) {
    const Clock::time_point abort = nextAbort(3, sent + std::chrono::seconds(5));
    EXPECT_GE(abort - sent, milliseconds(300 + 150 * i)) << i;
    EXPECT_LT(abort - sent, std::chrono::seconds(5)) << i;
  }

  // An operator position's PTT: one report, and silence is no longer told
  // until the limit has passed again.
  const Clock::time_point injected = Clock::now();
  board("rtp-ext inject last 10.0.0.5 5 20 00 00 00");
  std::string report;
  while ((report = c.next()) == signal(3, "abort : 151")) {  // on their way before it was read
  }
  EXPECT_EQ(report.rfind(signal(3, "rtpExt : { status ed-137 : { header { ptt ptt-off, squ squ-on,").substr(0, 70), 0),
            0u)
      << report;
  EXPECT_TRUE(has(report, "sqi { bss-method c-n, bss-quality 20 } }")) << report;
  EXPECT_TRUE(has(report,
                  "request ed-137 : { addr { session-addr \"10.0.0.5\", session-ssrc 5 }, params tx : { "
                  "header { ptt normal-ptt-on, squ squ-off,"))
      << report;
  const Clock::time_point quiet = injected + milliseconds(300);
  EXPECT_EQ(nextAbort(3, quiet), quiet) << "an abort within 300 ms of the payload";

  board("journal clear");
  EXPECT_EQ(reply(cmd(2, 3, "destroy : NULL")), ok(2, 3));
  EXPECT_TRUE(has(board("journal"), " -> 0 (detach)"));
  EXPECT_EQ(signals(3, "abort"), Lines{});

  // tshark reads the keep-alives: squelch on, the quality index 20 by C/N,
  // about 150 ms apart.
  if (e2e::run("command -v tshark").status != 0)
    GTEST_SKIP() << testkit::missing("tshark") << ": the keep-alives are not read back";
  const e2e::Ran read =
      e2e::run("(tshark -r " + root.dir() +
               "/ext.pcap -d udp.port==5004,rtp -T fields -e rtp.ext.profile -e rtp.ext.ed137a.squ -e "
               "rtp.ext.ed137a.ft.sqi.qidx -e rtp.ext.ed137a.ft.sqi.qidx-ml -e frame.time_delta 2>/dev/null)");
  std::istringstream rows(read.out);
  std::vector<double> gaps;
  int n = 0;
  for (std::string row; std::getline(rows, row); ++n) {
    EXPECT_EQ(row.rfind("0x0167\t1\t20\t2\t", 0), 0u) << read.out;
    if (n > 1) gaps.push_back(std::stod(row.substr(row.rfind('\t') + 1)));  // not the create's own send
  }
  ASSERT_GE(gaps.size(), 4u) << read.out;
  std::sort(gaps.begin(), gaps.end());
  const double median = gaps[gaps.size() / 2];
  EXPECT_GE(median, 0.14);
  EXPECT_LT(median, 0.3);
}

TEST_F(ED137Radio, TheDefaultsReportsTheRadiosTypeAndModeAndTheHeldInput) {
  start();
  ASSERT_EQ(c.exchange(cmd(1, 1, "create : trunk : { trunk 1, timeslot 5 }")).size(), 3u);
  board("journal clear");
  const Clock::time_point sent = Clock::now();
  ASSERT_EQ(reply(cmd(2, 2, radioCreate(header("ptt-off", "squ-off")))), ok(2, 2));
  EXPECT_EQ(initWords(board("journal")), "359 0 1 123 10 1");

  // Keep-alives every second; the abort after two seconds of silence.
  const Clock::time_point abort = nextAbort(2, sent + std::chrono::seconds(5));
  EXPECT_GE(abort - sent, milliseconds(2000));
  EXPECT_LT(abort - sent, milliseconds(4000));
  std::vector<long> at;
  ASSERT_TRUE(e2e::waitFor([&] { return (at = writtenAt(1)).size() >= 3; }));  // the create's status, keep-alives
  for (std::size_t i = 1; i < at.size(); ++i) {
    EXPECT_GE(at[i] - at[i - 1], 950) << i;  // as the board took them, a pass or so late
    EXPECT_LT(at[i] - at[i - 1], 1500) << i;
  }

  // Payloads A, A, B in one go: two reports; B again within the interval: none.
  board("rtp-ext inject 1 10.0.0.5 5 20 00 00 00 , 40 00 00 00");
  board("rtp-ext inject 1 10.0.0.6 6 20 00 00 00");
  Lines reports = signals(2, "rtpExt");
  ASSERT_EQ(reports.size(), 2u);
  EXPECT_TRUE(
      has(reports[0], "session-addr \"10.0.0.5\", session-ssrc 5 }, params tx : { header { ptt coupling-ptt-on"))
      << reports[0];
  EXPECT_TRUE(has(reports[1], "session-addr \"10.0.0.6\", session-ssrc 6 }, params tx : { header { ptt normal-ptt-on"))
      << reports[1];
  board("rtp-ext inject 1 10.0.0.6 6 20 00 00 00");
  EXPECT_EQ(signals(2, "rtpExt"), Lines{});

  // A VESK request is not the radio's: refused, nothing written but the
  // keep-alives of the untouched state.
  EXPECT_EQ(reply(cmd(3, 2,
                      "ioctl : rtpExt : vesk : { addr { session-addr \"10.0.0.9\", session-ssrc 9 }, params "
                      "gw-set-remote : { remote { no 4, ch 5 } } }")),
            e2e::refused(3, 2, "unsupported"));
  std::istringstream payloads(board("rtp-ext written 1"));
  for (std::string line; std::getline(payloads, line);) EXPECT_TRUE(has(line, " 00 00 00 00")) << line;

  // A radio that only receives, or one in receive mode, takes no PTT.
  int n = 1;
  for (const char* typeAndMode : {"type radio-rxonly, txrxmode txrx", "type radio-txrx, txrxmode rx"}) {
    ASSERT_EQ(reply(cmd(4, 4, radioCreate(header("ptt-off", "squ-off") + response(typeAndMode)))), ok(4, 4))
        << typeAndMode;
    board("rtp-ext inject " + std::to_string(++n) + " 10.0.0.5 5 20 00 00 00");
    EXPECT_EQ(signals(4, "rtpExt"), Lines{}) << typeAndMode;
    EXPECT_TRUE(has(session(n), " read=1 ")) << session(n);
  }

  // The transmission depends on the squelch: the input waits for it.
  ASSERT_EQ(reply(cmd(5, 5,
                      radioCreate(header("ptt-off", "squ-off") +
                                  response("type radio-txrx, txrxmode txrx", "", ", transmission-depend-on-squ TRUE")))),
            ok(5, 5));
  board("journal clear");
  EXPECT_EQ(reply(cmd(6, 1, "connect : 5")), ok(6, 1));
  EXPECT_FALSE(has(board("journal"), "(input on)"));
  EXPECT_EQ(reply(cmd(7, 5, rtpExt("squ-on"))), ok(7, 5));
  EXPECT_TRUE(has(board("journal"), "(input on)"));

  // A VESK radio is another factory's.
  board("journal clear");
  EXPECT_EQ(reply(cmd(8, 6,
                      "create : rtp : { codecRTP { payload ptG711-Alaw, dhost { iaddr \"127.0.0.1\", port " +
                          std::to_string(e2e::freePort() - 1) +
                          " }, radio { status vesk : { flags { prio 15, ptt FALSE, bss FALSE, vad-rx FALSE, "
                          "vad-tx FALSE, sql FALSE, sh FALSE, pwr FALSE, rv FALSE, resv FALSE, selcall 0, li 0 "
                          "}, freq { channel 1, frequency \"145.5\" }, remote { no 0, ch 0 }, squelshe on, rte "
                          "a1b, standby-state-channel active, standby-group 0, standby-state-receiver active } } "
                          "}, txPayload ptG711-Alaw, rxPayload ptG711-Alaw }")),
            ok(8, 6));
  EXPECT_TRUE(has(board("journal"), "(init 4919)"));
  for (int slot : {1, 2, 4, 5, 6}) EXPECT_EQ(reply(cmd(9, slot, "destroy : NULL")), ok(9, slot));
}

// The radio's squelch is open from the create on: connecting the slot
// starts its input with no request from the controller. A radio whose
// extension session cannot be had is refused and leaves nothing open.
TEST_F(ED137Radio, AnOpenSquelchAtCreateStartsTheInputAtConnectAndAnUnusableDriverFailsTheCreate) {
  start();
  ASSERT_EQ(c.exchange(cmd(1, 1, "create : trunk : { trunk 1, timeslot 5 }")).size(), 3u);
  ASSERT_EQ(reply(cmd(2, 2,
                      radioCreate(header("ptt-off", "squ-on") +
                                  response("type radio-txrx, txrxmode txrx", "", ", transmission-depend-on-squ TRUE")))),
            ok(2, 2));
  board("journal clear");
  EXPECT_EQ(reply(cmd(3, 1, "connect : 2")), ok(3, 1));
  const std::string journal = board("journal");
  EXPECT_TRUE(has(journal, "(input on)")) << journal;
  EXPECT_EQ(reply(cmd(4, 2, "destroy : NULL")), ok(4, 2));

  int seq = 5;
  for (const char* fault : {"refuse-open rtp_ext", "fail rtp_ext C0144500 EIO 1", "fail rtp_ext C0084501 EINVAL 1"}) {
    board(fault);
    EXPECT_EQ(reply(cmd(seq, 3, radioCreate(header("ptt-off", "squ-off")))),
              e2e::refused(seq, 3, "insufficientResources"))
        << fault;
    board("refuse-open rtp_ext off");
    // (The board hears of a close on its next pass.)
    EXPECT_TRUE(e2e::waitFor([&] { return !has(board("rtp-ext"), " open ") && board("rtp").empty(); }))
        << fault << "\n" << board("rtp-ext") << board("rtp");
    ++seq;
  }
  EXPECT_EQ(reply(cmd(seq, 1, "destroy : NULL")), ok(seq, 1));
}

}  // namespace
