// External channel, MCC data, echo and HDLC link slots in the real daemon,
// driven as a controller drives them, with the board's side read and fed
// through simboardctl: the matrix, the MCC channels' writes, injected
// octets and frames.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "tests/e2e/lgcp_controller.h"

namespace {

using namespace std::chrono_literals;
using e2e::cmd;
using e2e::Lines;
using e2e::ok;
using e2e::refused;
using e2e::signal;

class DataSlots : public e2e::ControllerTest {
 protected:
  // The lines of a board reply.
  Lines boardLines(const std::string& request) const {
    Lines out;
    std::string text = board(request);
    for (std::size_t at = 0; at < text.size();) {
      const std::size_t end = text.find('\n', at);
      out.push_back(text.substr(at, end - at));
      at = end == std::string::npos ? text.size() : end + 1;
    }
    return out;
  }
  // The controller channel the daemon took last (the highest in use).
  std::string lastChannel() const {
    const Lines in = boardLines("mcc");
    return in.empty() ? std::string() : in.back().substr(0, in.back().find(' '));
  }
  // The next message but the HDLC links' periodic counters.
  std::string next() {
    std::string m;
    while ((m = c.next()).find("hdlcLinkInfo") != std::string::npos) {
    }
    return m;
  }
  // What the daemon sent, without the HDLC links' periodic counters.
  Lines exchange(const std::string& valueNotation) {
    Lines out;
    for (const std::string& m : c.exchange(valueNotation))
      if (m.find("hdlcLinkInfo") == std::string::npos) out.push_back(m);
    return out;
  }
};

TEST_F(DataSlots, AnExternalReceiverTakesASourceOnlyWhileActivated) {
  start();
  ASSERT_EQ(c.exchange(cmd(1, 1, "create : trunk : { trunk 1, timeslot 5 }")).size(), 3u);
  EXPECT_EQ(c.exchange(cmd(2, 2, "create : ext : { transmitter 5, receiver 6 }")),
            (Lines{ok(2, 2), signal(2, "transmitter : active : 8197")}));
  EXPECT_EQ(c.exchange(cmd(3, 1, "connect : 2")), Lines{refused(3, 1, "connectFail")});
  EXPECT_EQ(c.exchange(cmd(4, 2, "activate : empty : NULL")), (Lines{signal(2, "receiver : active : 8198"), ok(4, 2)}));
  EXPECT_EQ(matrix(8198), "8198 = 0xD5\n");
  EXPECT_EQ(c.exchange(cmd(5, 1, "connect : 2")), Lines{ok(5, 1)});
  EXPECT_EQ(matrix(8198), "8198 <- 37\n");
  EXPECT_EQ(c.exchange(cmd(6, 2, "deactivate : NULL")), (Lines{signal(2, "receiver : inactive : NULL"), ok(6, 2)}));
  EXPECT_EQ(matrix(8198).rfind("8198 undriven (disabled", 0), 0u) << matrix(8198);
  EXPECT_EQ(c.exchange(cmd(7, 1, "connect : 2")), Lines{refused(7, 1, "connectFail")});
  // A number past the bus (this one would overflow 8192 + n).
  EXPECT_EQ(c.exchangeHex("C0 01 08 00 03 08 50 04 7F FF FF FF 01 06"), Lines{"C0 01 08 00 03 60"});
}

TEST_F(DataSlots, MccDataGoesBothWaysAsItComes) {
  start();
  EXPECT_EQ(c.exchange(cmd(1, 3, "create : mcc : { type transparent, mode standard }")), Lines{ok(1, 3)});
  const std::string m = lastChannel();
  EXPECT_EQ(boardLines("mcc").back().rfind(m + " mode 2 ", 0), 0u);
  board("mcc inject " + m + " 00 01 02 03 04 05 06 07 08 09");
  board("mcc inject " + m + " 10 11 12 13 14 15 16 17 18 19 1A 1B 1C 1D 1E 1F 20 21 22 23");
  EXPECT_EQ(c.take(2), (Lines{signal(3, "userData : '00 01 02 03 04 05 06 07 08 09'H"),
                              signal(3, "userData : '10 11 12 13 14 15 16 17 18 19 1a 1b 1c 1d 1e 1f 20 21 22 23'H")}));
  EXPECT_EQ(c.exchange(cmd(2, 3, "userData : 'C0FFEE'H")), Lines{ok(2, 3)});
  EXPECT_TRUE(e2e::waitFor([&] { return board("mcc written " + m) == "C0 FF EE\n"; })) << board("mcc written " + m);
  // A channel that has failed takes nothing: the controller is told.
  board("mcc error " + m);
  EXPECT_EQ(c.exchange(cmd(3, 3, "userData : '01'H")), Lines{refused(3, 3, "busError")});

  // Mode ss7 allocates the driver's SS7 mode whatever the type; a type the
  // schema has no name for (a crafted 3) is refused.
  EXPECT_EQ(c.exchange(cmd(4, 4, "create : mcc : { type bri, mode ss7 }")), Lines{ok(4, 4)});
  EXPECT_EQ(boardLines("mcc").back().rfind(lastChannel() + " mode 3 ", 0), 0u);
  EXPECT_EQ(c.exchangeHex("C0 01 05 00 05 08 5E"), Lines{"C0 01 05 00 05 61"});
  EXPECT_TRUE(e2e::waitFor([&] { return daemon->err().find("mcc: no MCC type 3\n") != std::string::npos; }))
      << daemon->err();
}

TEST_F(DataSlots, NoEchoBusIsFoundSoNoneIsReported) {
  start();
  letGo();  // lgcpctl is the controller here
  const e2e::Ran r = e2e::run(e2e::lgcpctlCommand(
      "--port " + std::to_string(port) +
      " send '{ seq 1, slot 6, pdu command : create : echo : { bus 0, channel 1 } }'"
      " expect '{ seq 1, slot 6, pdu response : error : insufficientResources }'"
      " send '{ seq 2, pdu command : query : NULL }' expect '{ seq 2, pdu response : success : NULL }' listen 300"));
  EXPECT_EQ(r.status, 0) << r.out;
  EXPECT_NE(r.out.find("echoBus { }"), std::string::npos) << r.out;
  EXPECT_NE(r.out.find("mcc-data 64, mcc-bri 64, mcc-trans 64"), std::string::npos) << r.out;
  ASSERT_TRUE(c.connect(port));  // for the daemon's orderly end
}

TEST_F(DataSlots, AnHdlcLinkFramesPackagesAndBatchesWhatItReceives) {
  start();
  ASSERT_EQ(c.exchange(cmd(1, 1, "create : trunk : { trunk 1, timeslot 5 }")).size(), 3u);
  ASSERT_EQ(exchange(cmd(2, 5, "create : hdlcParams : { trunk 2, log 0, address 4660 }")), Lines{ok(2, 5)});
  ASSERT_EQ(exchange(cmd(3, 1, "connect : 5")), (Lines{signal(5, "receiver : active : -1"), ok(3, 1)}));
  const std::string m = lastChannel();
  EXPECT_EQ(matrix(37), "37 <- " + m + "\n");

  EXPECT_EQ(exchange(cmd(4, 5, "ioctl : hdlcPackages : { { body 'AA'H }, { body 'BBBB'H }, { body ''H } }")),
            Lines{ok(4, 5)});
  EXPECT_TRUE(e2e::waitFor([&] { return boardLines("mcc written " + m).size() == 3; }));
  EXPECT_EQ(boardLines("mcc written " + m), (Lines{"12 34 00 AA", "12 34 20 BB BB", "12 34 40"}));
  // The peer's counter 5 comes back in bits 0-4 of the next frames.
  board("mcc inject " + m + " 12 34 A0 77");
  EXPECT_EQ(next(), signal(5, "ioctl : hdlcPackages : { { body '77'H } }"));
  EXPECT_EQ(exchange(cmd(5, 5, "ioctl : hdlcPackages : { { body '01'H } }")), Lines{ok(5, 5)});
  EXPECT_TRUE(e2e::waitFor([&] { return boardLines("mcc written " + m).size() == 4; }));
  EXPECT_EQ(boardLines("mcc written " + m).back(), "12 34 65 01");

  // 300 frames asking to wait for more, all within one window: no signal
  // carries more than the controller decodes, and none is lost.
  {
    std::string frames;
    for (int i = 0; i < 300; ++i) frames += std::string("\x12\x34\x00\x00\x80", 5);
    std::FILE* f = std::fopen((root.dir() + "/frames").c_str(), "wb");
    ASSERT_NE(f, nullptr);
    std::fwrite(frames.data(), 1, frames.size(), f);
    std::fclose(f);
  }
  board("mcc inject " + m + " file frames 5");
  std::size_t got = 0;
  while (got < 300) {
    const std::string s = next();
    const std::string head = signal(5, "ioctl : hdlcPackages : ");
    ASSERT_EQ(s.compare(0, head.size() - 2, head, 0, head.size() - 2), 0) << s;
    const std::size_t n = e2e::count(s, "body");
    EXPECT_LE(n, 128u);
    ASSERT_GT(n, 0u);
    got += n;
  }
  EXPECT_EQ(got, 300u);

  // Deactivate reports the counters at once (the period may have brought
  // them just before), then every 3 s from then on.
  const std::string info =
      signal(5, "ioctl : hdlcLinkInfo : { txSU 4, txDiscard 0, txError 0, txOverflow 0, rxSU 301 }");
  Lines answer = c.exchange(cmd(6, 5, "deactivate : NULL"));
  ASSERT_GE(answer.size(), 2u);
  EXPECT_EQ(answer.back(), ok(6, 5));
  answer.pop_back();
  EXPECT_EQ(answer, Lines(answer.size(), info));
  const auto before = std::chrono::steady_clock::now();
  EXPECT_EQ(c.next(5s), info);
  EXPECT_GE(std::chrono::steady_clock::now() - before, 2s);
}

TEST_F(DataSlots, AnHdlcLinkRefusesWhatItsQueueCannotHoldAndSendsTheRestInOrder) {
  start();
  ASSERT_EQ(c.exchange(cmd(1, 1, "create : trunk : { trunk 1, timeslot 6 }")).size(), 3u);
  ASSERT_EQ(exchange(cmd(2, 6, "create : hdlcParams : { trunk 2, log 0, address 1 }")), Lines{ok(2, 6)});
  // Not connected, its channel takes nothing: 120 wait, the 121st is refused.
  std::string list;
  for (int i = 0; i < 121; ++i) {
    char body[32];
    std::snprintf(body, sizeof body, "%s{ body '%02X'H }", i ? ", " : "", i);
    list += body;
  }
  EXPECT_EQ(exchange(cmd(3, 6, "ioctl : hdlcPackages : { " + list + " }")),
            Lines{refused(3, 6, "insufficientResources")});
  EXPECT_TRUE(e2e::waitFor([&] { return daemon->err().find("packages not sent") != std::string::npos; }));
  EXPECT_NE(daemon->err().find("HdlcSlot[1/*]: 1 of 121 packages not sent: transmit queue full\n"), std::string::npos)
      << daemon->err();
  ASSERT_EQ(exchange(cmd(4, 1, "connect : 6")), (Lines{signal(6, "receiver : active : -1"), ok(4, 1)}));
  const std::string m = lastChannel();
  EXPECT_TRUE(e2e::waitFor([&] { return boardLines("mcc written " + m).size() == 120; }));
  const Lines out = boardLines("mcc written " + m);
  ASSERT_EQ(out.size(), 120u);
  EXPECT_EQ(out.front(), "00 01 00 00");
  EXPECT_EQ(out[1], "00 01 20 01");
  EXPECT_EQ(out.back(), "00 01 E0 77");
}

}  // namespace
