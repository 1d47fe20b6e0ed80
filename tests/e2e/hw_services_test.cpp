// The hardware services of the real korvend-sim seen from outside: a
// controller (lgcpctl, and octets where they matter) and the simulated
// board's control socket (simboardctl) and journal.
#include <gtest/gtest.h>
#include <stdlib.h>
#include <sys/wait.h>

#include <algorithm>
#include <cstdio>
#include <fstream>
#include <memory>
#include <string>
#include <vector>

#include "tests/e2e/daemon_harness.h"
#include "tests/e2e/raw_client.h"

namespace {

using namespace std::chrono_literals;
using e2e::hex;

struct Ran {
  int status;
  std::string out;
};

Ran run(const std::string& command) {
  Ran r{-1, ""};
  FILE* p = ::popen((command + " 2>&1").c_str(), "r");
  char buf[1024];
  while (std::fgets(buf, sizeof buf, p)) r.out += buf;
  const int st = ::pclose(p);
  r.status = WIFEXITED(st) ? WEXITSTATUS(st) : -1;
  return r;
}

// One trunkStatus signal as lgcpctl prints it.
struct Status {
  int ms;  // time of day
  std::string type;
  int trunk;
  std::string state;
  int slips;
};

bool parseStatus(const std::string& line, Status& s) {
  int h, m, sec, milli;
  char state[16], type[8];
  if (std::sscanf(line.c_str(),
                  "%d:%d:%d.%d < { pdu signal : trunkStatus : { trunk %d, state %15[a-zA-Z], slips %d, lossBF %*d, "
                  "lossCarrier %*d, lossAIS %*d, lossRAI %*d, name \"\", clockMaster FALSE, type %7[a-z0-9]",
                  &h, &m, &sec, &milli, &s.trunk, state, &s.slips, type) != 8)
    return false;
  s.ms = ((h * 60 + m) * 60 + sec) * 1000 + milli;
  s.state = state;
  s.type = type;
  return true;
}

// The statuses of one type, cut into passes: runs of trunks 0, 1, 2, ...
// A listening window ends by the clock, not between passes, so the last
// status heard may leave its pass short of `whole`: that pass is not
// counted. Any other short pass stays, for the test to see.
std::vector<std::vector<Status>> passes(const std::vector<Status>& all, const std::string& type, std::size_t whole) {
  std::vector<std::vector<Status>> out;
  for (const Status& s : all) {
    if (s.type != type) continue;
    if (s.trunk == 0 || out.empty()) out.emplace_back();
    out.back().push_back(s);
  }
  if (!out.empty() && out.back().size() < whole && all.back().type == type) out.pop_back();
  return out;
}

class HwServices : public ::testing::Test {
 protected:
  ~HwServices() override {
    if (!daemon) return;
    daemon->signal(SIGTERM);
    daemon->wait();
  }
  // Starts the daemon; `init` holds board commands run before it opens a
  // device.
  void start(const std::vector<std::string>& extra = {}, const std::string& init = "") {
    if (!init.empty()) {
      root.make_parent(sysroot::sim_board_init);
      std::ofstream(root.path(sysroot::sim_board_init)) << init;
    }
    std::vector<std::string> args = {"--port", std::to_string(port)};
    args.insert(args.end(), extra.begin(), extra.end());
    daemon = std::make_unique<e2e::Daemon>(e2e::simBinary(), root.dir(), args, root.dir());
    ASSERT_TRUE(e2e::waitFor([&] { return !daemon->out().empty(); })) << daemon->err();
  }
  std::string lgcpctlCommand(const std::string& steps) const {
    return e2e::lgcpctlCommand("--port " + std::to_string(port) + " " + steps);
  }
  Ran lgcpctl(const std::string& steps) const { return run(lgcpctlCommand(steps)); }
  Ran board(const std::string& request) const {
    return run(e2e::sourceDir() + "/tools/simboardctl --root " + root.dir() + " " + request);
  }
  std::string journal() const { return board("journal").out; }

  e2e::Root root;
  int port = e2e::freePort();
  std::unique_ptr<e2e::Daemon> daemon;
};

// One status per trunk on connect, then one per trunk each second, four E1
// trunks and eight BRI lines; a state set on the board shows in the next.
TEST_F(HwServices, TrunkAndLineStatusOnConnectAndEverySecond) {
  start();
  FILE* p = ::popen((lgcpctlCommand("listen 5000") + " 2>&1").c_str(), "r");
  ASSERT_NE(p, nullptr);
  std::vector<Status> all;
  std::string text;
  bool changed = false;
  char buf[1024];
  while (std::fgets(buf, sizeof buf, p)) {
    text += buf;
    Status s;
    if (!parseStatus(buf, s)) continue;
    all.push_back(s);
    if (!changed && s.type == "e1" && s.trunk == 3) {
      ASSERT_EQ(board("trunk 2 state 1 slips 5").status, 0);
      changed = true;
    }
  }
  EXPECT_EQ(::pclose(p), 0) << text;

  ASSERT_FALSE(all.empty()) << text;
  const auto e1 = passes(all, "e1", 4);
  ASSERT_GE(e1.size(), 3u) << text;
  EXPECT_EQ(all[0].type, "e1") << "the connect's own pass comes first\n" << text;
  // The connect's own pass and the periodic one run on separate clocks, so
  // the two may come close together; from then on a pass comes each second.
  // The time stamps are when lgcpctl read a pass, and a busy machine may
  // hold lgcpctl back for a while: the period is taken over all the
  // periodic passes, not from one gap.
  const int day = 24 * 3600 * 1000;  // the stamps are times of day
  const int period = (e1.back()[0].ms - e1[1][0].ms + day) % day / static_cast<int>(e1.size() - 2);
  EXPECT_GE(period, 700) << text;
  EXPECT_LE(period, 2000) << text;
  // The board changes after the first pass: the passes read normal up to
  // some point and the new state from there on, and the last one has it.
  bool after = false;
  for (std::size_t i = 0; i < e1.size(); ++i) {
    ASSERT_EQ(e1[i].size(), 4u) << "pass " << i << "\n" << text;
    const Status& t2 = e1[i][2];
    EXPECT_EQ(t2.trunk, 2);
    if (i == 0 || t2.state == "normal") {
      EXPECT_FALSE(after) << "pass " << i << " went back to normal\n" << text;
      EXPECT_EQ(t2.state, "normal") << "pass " << i << "\n" << text;
      EXPECT_EQ(t2.slips, 0) << "pass " << i << "\n" << text;
    } else {
      after = true;
      EXPECT_EQ(t2.state, "lossBF") << "pass " << i << "\n" << text;
      EXPECT_EQ(t2.slips, 5) << "pass " << i << "\n" << text;
    }
  }
  EXPECT_TRUE(after) << text;
  const auto bri = passes(all, "bri", 8);
  ASSERT_GE(bri.size(), 2u) << text;
  for (const auto& pass : bri) {
    ASSERT_EQ(pass.size(), 8u) << text;
    for (int ch = 0; ch < 8; ++ch) {
      EXPECT_EQ(pass[ch].trunk, ch);
      EXPECT_EQ(pass[ch].state, "normal");
    }
  }
}

TEST_F(HwServices, BoardWithoutSpiSendsNoLineStatusAndSaysSoOnce) {
  start({}, "spi absent\n");
  const Ran r = lgcpctl("listen 2500");
  EXPECT_EQ(r.status, 0) << r.out;
  EXPECT_GE(e2e::count(r.out, "type e1 }"), 8u) << r.out;
  EXPECT_EQ(e2e::count(r.out, "type bri }"), 0u) << r.out;
  EXPECT_EQ(e2e::count(daemon->err(), "spi: hal without spi\n"), 1u) << daemon->err();
}

TEST_F(HwServices, ClockAndTransmitClockReachTheBoard) {
  start();
  Ran r = lgcpctl(
      "send '{ seq 1, pdu command : clockCfg : { clkSel0 external, bextEn enabled, source 2 } }' "
      "expect '{ seq 1, pdu response : success : NULL }' "
      "send '{ seq 2, pdu command : clockCfg : { clkSel0 external, bextEn enabled, source -1 } }' "
      "expect '{ seq 2, pdu response : success : NULL }' "
      "send '{ seq 3, pdu command : trunkCfg : { trunk 1, mode slave } }' "
      "expect '{ seq 3, pdu response : success : NULL }'");
  EXPECT_EQ(r.status, 0) << r.out;
  // Connect, the command (source -1 selects nothing), and the disconnect.
  EXPECT_TRUE(e2e::waitFor([&] { return e2e::count(journal(), "(clock 4)") == 2; })) << journal();
  const std::string j = journal();
  const std::size_t connect = j.find("(clock 4)"), two = j.find("(clock 2)");
  EXPECT_LT(connect, two) << j;
  EXPECT_LT(two, j.rfind("(clock 4)")) << j;
  EXPECT_EQ(e2e::count(j, "(clock "), 3u) << j;
  EXPECT_LT(j.find("(tclk 0x0)"), j.find("(tclk 0x2)")) << j;
  EXPECT_NE(j.find("(tclk 0x2)"), std::string::npos) << j;
  EXPECT_EQ(board("tclk").out, "tclk 0x2\nclock source none\n");
}

TEST_F(HwServices, DisabledClockIsUnsupportedAndNeverTouched) {
  start({"--disable-clock"});
  const Ran r = lgcpctl(
      "send '{ seq 1, pdu command : clockCfg : { clkSel0 external, bextEn enabled, source 2 } }' "
      "expect '{ seq 1, pdu response : error : unsupported }' "
      "send '{ seq 2, pdu command : trunkCfg : { trunk 0, mode slave } }' "
      "expect '{ seq 2, pdu response : success : NULL }'");
  EXPECT_EQ(r.status, 0) << r.out;
  EXPECT_TRUE(e2e::waitFor([&] { return journal().find("(tclk 0x1)") != std::string::npos; })) << journal();
  EXPECT_EQ(journal().find("0x80044301"), std::string::npos) << journal();
  EXPECT_NE(daemon->err().find("clock control disabled.\n"), std::string::npos) << daemon->err();
}

// Octet for octet: the requests are written out in hex, the bus bytes come
// from the C library's own generator.
TEST_F(HwServices, OctetsOfClockTrunkBusTestAndCas) {
  start();
  e2e::RawClient c;
  ASSERT_TRUE(e2e::waitFor([&] { return c.connect(port); })) << daemon->err();
  // clockCfg { external, enabled, source 2 }, seq 4
  c.sendPayload(hex("80 01 04 16 00 01 02"));
  EXPECT_EQ(c.replyHex(), "80 01 04 40");
  // trunkCfg { trunk 1, slave }, seq 5
  c.sendPayload(hex("80 01 05 14 01 01 00"));
  EXPECT_EQ(c.replyHex(), "80 01 05 40");

  // testBpc { bus 0, seed 42, write, start 0, length 8 }, seq 6
  ::srandom(42);
  std::string bytes, drive;
  std::vector<unsigned> sequence;
  for (int i = 0; i < 8; ++i) {
    sequence.push_back(static_cast<unsigned>(::random() & 0xFF));
    char b[8];
    std::snprintf(b, sizeof b, " %02X", sequence.back());
    bytes += b;
    drive += " " + std::to_string(sequence.back());
  }
  c.sendPayload(hex("80 01 06 02 00 01 2A 40 08"));
  EXPECT_EQ(c.replyHex(), "80 01 06 40");
  EXPECT_EQ(board("bus read 8192 8").out, "8192:" + bytes + "\n");
  // disconnect mode: the outputs are let go
  c.sendPayload(hex("80 01 07 02 00 01 2A 80 08"));
  EXPECT_EQ(c.replyHex(), "80 01 07 40");
  EXPECT_EQ(board("bus read 8192 8").out, "8192: FF FF FF FF FF FF FF FF\n");
  // read mode, with the bytes driven by another board: success; one
  // altered: busError
  ASSERT_EQ(board("bus write 8192" + drive).status, 0);
  c.sendPayload(hex("80 01 08 02 00 01 2A 00 08"));
  EXPECT_EQ(c.replyHex(), "80 01 08 40");
  ASSERT_EQ(board("bus write 8195 " + std::to_string(sequence[3] ^ 0x10)).status, 0);
  c.sendPayload(hex("80 01 09 02 00 01 2A 00 08"));
  EXPECT_EQ(c.replyHex(), "80 01 09 6A");
  char line[96];
  std::snprintf(line, sizeof line, "bus 0: test failed on channel 8195 expected 0x%02X read 0x%02X\n", sequence[3],
                sequence[3] ^ 0x10);
  EXPECT_NE(daemon->err().find(line), std::string::npos) << daemon->err();

  // ioctl cas { path 0, timeslot 5, open 10 }, seq 10: the trunk's result,
  // then the channel's bits
  c.sendPayload(hex("80 01 0A 12 3C 01 00 01 05 00 01 0A"));
  EXPECT_EQ(c.replyHex(), "80 01 0A 40");
  std::vector<std::string> cas;
  for (const e2e::Bytes& s : c.signals())
    if (s.at(0) != 0x22 && hex(s) != "24 70") cas.push_back(hex(s));  // not trunkStatus, not power
  EXPECT_EQ(cas, (std::vector<std::string>{"23 80 01 00 01 00 01 00 01 00", "23 80 01 00 01 05 01 00 01 0A"}));
}

// What one cabled trunk's channel sends arrives at the other's as a cas
// signal; the controller's going closes CAS on both.
TEST_F(HwServices, CasBitsTravelBetweenCabledTrunks) {
  start({}, "cable 0 1\n");
  const Ran r = lgcpctl(
      "send '{ seq 1, pdu command : ioctl : cas : { channel { path 0, timeslot 5 }, cmd open : 10 } }' "
      "expect '{ seq 1, pdu response : success : NULL }' "
      "send '{ seq 2, pdu command : ioctl : cas : { channel { path 1, timeslot 5 }, cmd open : 3 } }' "
      "expect '{ seq 2, pdu response : success : NULL }' "
      "send '{ seq 3, pdu command : ioctl : cas : { channel { path 0, timeslot 5 }, cmd set : 6 } }' "
      "expect '{ seq 3, pdu response : success : NULL }' "
      "send '{ seq 4, pdu command : ioctl : cas : { channel { path 7, timeslot 5 }, cmd get : NULL } }' "
      "expect '{ seq 4, pdu response : error : invalidParams }' "
      "send '{ seq 5, pdu command : ioctl : dtmf-enable : TRUE }' "
      "expect '{ seq 5, pdu response : error : unsupported }' listen 300");
  EXPECT_EQ(r.status, 0) << r.out;
  std::vector<std::string> cas;
  const std::string head = "< { pdu signal : cas : ";
  for (std::size_t at = r.out.find(head); at != std::string::npos; at = r.out.find(head, at + 1))
    cas.push_back(r.out.substr(at + head.size(), r.out.find('\n', at) - at - head.size()));
  // The answers to the commands, in order; the driver's change records come
  // each after its cause, when the daemon next reads the device.
  const std::vector<std::string> answers = {
      "{ channel { path 0, timeslot 0 }, rx 0, tx 0 } }",   // trunk 0 opened
      "{ channel { path 0, timeslot 5 }, rx 0, tx 10 } }",  // its channel: nothing heard yet
      "{ channel { path 1, timeslot 0 }, rx 0, tx 0 } }",   // trunk 1 opened
      "{ channel { path 1, timeslot 5 }, rx 10, tx 3 } }",  // hears trunk 0's 10
      "{ channel { path 0, timeslot 0 }, rx 0, tx 0 } }",   // set takes the open path
      "{ channel { path 0, timeslot 5 }, rx 3, tx 6 } }",
  };
  const std::string heardThree = "{ channel { path 0, timeslot 5 }, rx 3, tx 10 } }";
  const std::string heardSix = "{ channel { path 1, timeslot 5 }, rx 6, tx 3 } }";
  std::vector<std::string> answered;
  for (const std::string& c : cas)
    if (c != heardThree && c != heardSix) answered.push_back(c);
  EXPECT_EQ(answered, answers) << r.out;
  auto at = [&](const std::string& c) { return std::find(cas.begin(), cas.end(), c) - cas.begin(); };
  EXPECT_EQ(e2e::count(r.out, heardThree), 1u) << r.out;
  EXPECT_EQ(e2e::count(r.out, heardSix), 1u) << r.out;
  EXPECT_LT(at(answers[3]), at(heardThree)) << r.out;
  EXPECT_LT(at(answers[5]), at(heardSix)) << r.out;
  EXPECT_TRUE(e2e::waitFor([&] {
    const std::string j = journal();
    return j.find("(close 0)") != std::string::npos && j.find("(close 1)") != std::string::npos;
  })) << journal();
  EXPECT_EQ(board("cas").out.rfind("open:\n", 0), 0u);
}

}  // namespace
