// Signalling links run by the real daemon for a controller: two slots on
// trunks 0 and 1 of the simulated board, cabled together, bring their link
// up against each other and carry layer-3 messages; tshark reads what the
// controller channels carried.
#include <gtest/gtest.h>

#include <algorithm>
#include <chrono>
#include <fstream>
#include <functional>
#include <iterator>
#include <string>
#include <vector>

#include "tests/e2e/lgcp_controller.h"
#include "tests/links/tshark.h"

namespace signalling_slots_test {  // named: see "Unity builds" in tests/README.md

using namespace std::chrono_literals;
using e2e::cmd;
using e2e::Lines;
using e2e::ok;
using e2e::refused;
using e2e::signal;
using Clock = std::chrono::steady_clock;

const char setup[] = "'0801010504038090A2'H";
const char setupText[] = "'08 01 01 05 04 03 80 90 a2'H";
const char callProceeding[] = "'08018102180189'H";
const char callProceedingText[] = "'08 01 81 02 18 01 89'H";

bool isOf(int slot, const std::string& m) { return m.find("slot " + std::to_string(slot) + ",") != std::string::npos; }
bool has(const std::string& m, const std::string& part) { return m.find(part) != std::string::npos; }
// "activated", not "deactivated".
const char activated[] = "signal : activated";

// What a signal is: "activated", "ioctl : isdnLinkInfo", "userData", ...
std::string kind(const std::string& m) {
  const std::size_t at = m.find("pdu signal : ");
  if (at == std::string::npos) return m;
  const std::size_t from = at + 13;
  std::size_t end = m.find(" : ", from);
  std::string k = m.substr(from, end - from);
  if (k == "ioctl") k += " : " + m.substr(end + 3, m.find(" : ", end + 3) - end - 3);
  return k;
}

class SignallingSlots : public e2e::ControllerTest {
 protected:
  // Starts the daemon on a board with trunks 0 and 1 cabled, with the
  // given configuration file (none when empty).
  void start(const std::string& config = "") {
    root.make_parent(sysroot::sim_board_init);
    std::ofstream(root.path(sysroot::sim_board_init)) << "cable 0 1\n";
    if (!config.empty()) {
      root.make_parent(sysroot::server_conf);
      std::ofstream(root.path(sysroot::server_conf)) << config;
    }
    ControllerTest::start();
  }

  // Creates trunk slots 1 (trunk 0 timeslot 16) and 2 (trunk 1 timeslot
  // 16), and PSTN slots 10 and 20 made from the given parameters.
  void slots(const std::string& first, const std::string& second) {
    ASSERT_EQ(exchange(cmd(1, 1, "create : trunk : { trunk 0, timeslot 16 }")).front(), ok(1, 1));
    ASSERT_EQ(exchange(cmd(2, 2, "create : trunk : { trunk 1, timeslot 16 }")).front(), ok(2, 2));
    ASSERT_EQ(exchange(cmd(3, 10, "create : pstn : " + first)), Lines{ok(3, 10)});
    ASSERT_EQ(exchange(cmd(4, 20, "create : pstn : " + second)), Lines{ok(4, 20)});
  }
  // The same, each PSTN slot connected to its trunk slot, the trunk as the
  // source first; then waits until both links are up (from `linked` on in
  // `got`).
  void pair(const std::string& first, const std::string& second) {
    slots(first, second);
    linked = got.size();
    for (const auto& s : {std::make_pair(1, 10), std::make_pair(10, 1), std::make_pair(2, 20), std::make_pair(20, 2)})
      connect(s.first, s.second);
    ASSERT_TRUE(await([&] { return seen(10, activated, linked) && seen(20, activated, linked); }))
        << testing::PrintToString(got);
  }
  // Destroys the slots of pair().
  void unpair() {
    for (int n : {10, 20, 1, 2}) {
      const Lines out = exchange(cmd(9, n, "destroy : NULL"));
      ASSERT_EQ(std::count(out.begin(), out.end(), ok(9, n)), 1) << testing::PrintToString(out);
    }
  }
  // A command's answer and the signals that came with it, but for the
  // links' statistics: each PSTN slot sends those every 3000 ms whatever
  // the command, and they are kept in `got`.
  Lines exchange(const std::string& command) {
    Lines out;
    for (const std::string& m : c.exchange(command)) {
      const std::string k = kind(m);
      const bool statistics = k == "ioctl : hdlcLinkInfo" || k == "ioctl : isdnLinkInfo" || k == "ioctl : ss7LinkInfo";
      (statistics ? got : out).push_back(m);
    }
    return out;
  }
  // Connects source to receiver; the signals it caused are kept.
  void connect(int source, int receiver) {
    const std::string answer = ok(90, source);
    const Lines out = exchange(cmd(90, source, "connect : " + std::to_string(receiver)));
    EXPECT_EQ(std::count(out.begin(), out.end(), answer), 1) << testing::PrintToString(out);
    std::copy_if(out.begin(), out.end(), std::back_inserter(got), [&](const std::string& m) { return m != answer; });
  }
  // Reads messages until done() holds of what has come (every message kept
  // in `got`), or the deadline passes.
  bool await(const std::function<bool()>& done, std::chrono::milliseconds deadline = 10s) {
    const auto end = Clock::now() + deadline;
    while (!done()) {
      const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(end - Clock::now());
      if (left.count() <= 0) return false;
      const std::string m = c.next(left);
      if (!m.empty()) got.push_back(m);
    }
    return true;
  }
  // Whether a signal of the slot whose text holds `part` has come from
  // message `from` on: what the step under test caused, not what an
  // earlier step did.
  bool seen(int slot, const std::string& part, std::size_t from) const {
    return count(part, slot, from) > 0;
  }
  bool awaitSeen(int slot, const std::string& part, std::size_t from, std::chrono::milliseconds deadline = 10s) {
    return await([&] { return seen(slot, part, from); }, deadline);
  }
  // How many signals of the slot from message `from` on hold `part`.
  int count(const std::string& part, int slot, std::size_t from) const {
    int n = 0;
    for (std::size_t i = from; i < got.size(); ++i) n += isOf(slot, got[i]) && has(got[i], part);
    return n;
  }
  // Keeps what the daemon has sent so far.
  void settle() {
    const Lines more = c.until();
    got.insert(got.end(), more.begin(), more.end());
  }
  // The kinds of the slot's signals from message `from` on.
  Lines kinds(int slot, std::size_t from) const {
    Lines out;
    for (std::size_t i = from; i < got.size(); ++i)
      if (isOf(slot, got[i])) out.push_back(kind(got[i]));
    return out;
  }
  // What tshark finds wrong in a tap (malformed, warnings), then its
  // summary lines.
  std::string tshark(const std::string& file, const std::string& filter = "") const {
    const std::string path = root.dir() + "/" + file;
    // tshark's own remarks on its standard error are not the file's.
    const e2e::Ran bad = e2e::run("tshark -r " + path +
                                  " -Y '_ws.malformed || _ws.expert.severity >= \"Warning\"" +
                                  (filter.empty() ? "" : " || " + filter) + "' 2>/dev/null | cat");
    EXPECT_EQ(bad.status, 0) << bad.out;
    EXPECT_EQ(bad.out, "") << file;
    return e2e::run("tshark -r " + path + " 2>/dev/null | cat").out;
  }

  Lines got;
  std::size_t linked = 0;  // where pair() started connecting
};

TEST_F(SignallingSlots, PriUserAndNetworkComeUpCarryMessagesReportAndGoDown) {
  start();
  board("mcc tap 1024 pri-user.pcap lapd both");
  pair("isdn : { type pri, trunk 1, log 0, side user : NULL }",
       "isdn : { type pri, trunk 2, log 0, side network : NULL }");
  EXPECT_TRUE(seen(10, "isdnLinkInfo : { side user,", linked));
  EXPECT_TRUE(seen(20, "isdnLinkInfo : { side network,", linked));

  std::size_t from = got.size();
  c.send(cmd(5, 10, std::string("userData : ") + setup));
  ASSERT_TRUE(awaitSeen(20, std::string("userData : ") + setupText, from)) << testing::PrintToString(got);
  from = got.size();
  c.send(cmd(6, 20, std::string("userData : ") + callProceeding));
  ASSERT_TRUE(awaitSeen(10, std::string("userData : ") + callProceedingText, from)) << testing::PrintToString(got);

  // The statistics every 3000 ms: the channel's always, the link's when it
  // has changed (it has carried two messages since it last reported).
  // Slot 20 reports a few milliseconds after slot 10, made just after it.
  from = got.size();
  const auto reported = [&] { return count("hdlcLinkInfo", 10, from) == 1 && count("hdlcLinkInfo", 20, from) == 1; };
  ASSERT_TRUE(await(reported, 6s));
  const auto first = Clock::now();
  settle();
  EXPECT_EQ(kinds(10, from), (Lines{"ioctl : hdlcLinkInfo", "ioctl : isdnLinkInfo"}));
  from = got.size();
  ASSERT_TRUE(await(reported, 6s));
  const auto period = std::chrono::duration_cast<std::chrono::milliseconds>(Clock::now() - first).count();
  EXPECT_GT(period, 2500);
  EXPECT_LT(period, 4500);
  settle();
  EXPECT_EQ(kinds(10, from), Lines{"ioctl : hdlcLinkInfo"});

  // Going down: the link's statistics, a full report, then "deactivated".
  from = got.size();
  c.send(cmd(7, 10, "deactivate : NULL"));
  ASSERT_TRUE(awaitSeen(10, "deactivated", from) && await([&] { return kinds(20, from).size() >= 3; }));
  EXPECT_EQ(kinds(10, from), (Lines{ok(7, 10), "ioctl : isdnLinkInfo", "ioctl : hdlcLinkInfo", "deactivated"}));
  EXPECT_EQ(kinds(20, from), (Lines{"ioctl : isdnLinkInfo", "ioctl : hdlcLinkInfo", "deactivated"}));

  if (const char* why = linktest::tshark_missing()) GTEST_SKIP() << why;
  const std::string frames = tshark("pri-user.pcap");
  EXPECT_TRUE(has(frames, "SABME")) << frames;
  EXPECT_TRUE(has(frames, "Q.931") && has(frames, "SETUP")) << frames;
  EXPECT_TRUE(has(frames, "CALL PROCEEDING")) << frames;
  EXPECT_TRUE(has(frames, "DISC")) << frames;
}

// A link's trunk is only its number in the logs: a controller that counts
// its links from 0, or sends any other number, gets a link that works.
TEST_F(SignallingSlots, PriLinksNumberedFromZeroOrBelowComeUpAndCarryMessages) {
  start();
  pair("isdn : { type pri, trunk 0, log 0, side user : NULL }",
       "isdn : { type pri, trunk -2147483648, log 0, side network : NULL }");
  std::size_t from = got.size();
  c.send(cmd(5, 10, std::string("userData : ") + setup));
  ASSERT_TRUE(awaitSeen(20, std::string("userData : ") + setupText, from)) << testing::PrintToString(got);
  from = got.size();
  c.send(cmd(6, 20, std::string("userData : ") + callProceeding));
  ASSERT_TRUE(awaitSeen(10, std::string("userData : ") + callProceedingText, from)) << testing::PrintToString(got);
}

TEST_F(SignallingSlots, Ss7LinksAlignCarryMsusBothWaysAndAnswerTheirRequests) {
  start();
  board("mcc tap 1024 ss7.pcap mtp2 both");
  pair("ss7 : { trunk 1, slc 0, dpc 2, opc 1, emergency TRUE }", "ss7 : { trunk 2, slc 0, dpc 1, opc 2, emergency TRUE }");
  // In service: the report that comes with "activated" says so.
  for (int slot : {10, 20}) {
    const Lines k = kinds(slot, linked);
    const auto at = std::find(k.begin(), k.end(), "activated");
    ASSERT_NE(at, k.begin());
    EXPECT_EQ(*(at - 1), "ioctl : ss7LinkInfo");
  }
  EXPECT_TRUE(seen(10, "ss7state worked }", linked));
  EXPECT_TRUE(seen(20, "ss7state worked }", linked));

  // SLTMs each way.
  std::size_t from = got.size();
  c.send(cmd(5, 10, "userData : '8102400000114012345678'H"));
  ASSERT_TRUE(awaitSeen(20, "userData : '81 02 40 00 00 11 40 12 34 56 78'H", from)) << testing::PrintToString(got);
  from = got.size();
  c.send(cmd(6, 20, "userData : '81018000001140ABCDEF01'H"));
  ASSERT_TRUE(awaitSeen(10, "userData : '81 01 80 00 00 11 40 ab cd ef 01'H", from)) << testing::PrintToString(got);

  // The BSN slot 10 sends: the FSN of the one MSU it took.
  EXPECT_EQ(exchange(cmd(7, 10, "ioctl : ss7RqBSN : NULL")),
            (Lines{signal(10, "ioctl : ss7BSN : 0"), ok(7, 10)}));
  // CAS and ISDN slots have no SS7 link.
  ASSERT_EQ(exchange(cmd(8, 30, "create : pstn : cas : { trunk 1 }")), Lines{ok(8, 30)});
  ASSERT_EQ(exchange(cmd(9, 31, "create : pstn : isdn : { type pri, trunk 3, log 0, side user : NULL }")),
            Lines{ok(9, 31)});
  EXPECT_EQ(exchange(cmd(10, 30, "ioctl : ss7RqBSN : NULL")), Lines{refused(10, 30, "unsupported")});
  EXPECT_EQ(exchange(cmd(11, 31, "ioctl : ss7RqBSN : NULL")), Lines{refused(11, 31, "unsupported")});

  if (const char* why = linktest::tshark_missing()) GTEST_SKIP() << why;
  const std::string units = tshark("ss7.pcap", "mtp2.li.bad");
  EXPECT_TRUE(has(units, "SIE")) << units;
  EXPECT_TRUE(has(units, "FISU")) << units;
  EXPECT_TRUE(has(units, "SLTM")) << units;
}

TEST_F(SignallingSlots, BriLinksTakeTheirChannelsWithBothDirectionsAndABlockedChannelHoldsTheirFrames) {
  start();
  board("mcc tap 1024 bri-terminal.pcap lapd both");
  slots("isdn : { type bri, trunk 1, log 0, side user : NULL }",
        "isdn : { type bri, trunk 2, log 0, side network : NULL }");
  linked = got.size();
  // Transmitter first for one, receiver first for the other: each channel
  // is taken, in BRI mode, with the second direction.
  connect(10, 1);
  EXPECT_FALSE(has(board("mcc"), " mode ")) << board("mcc");
  connect(1, 10);
  EXPECT_TRUE(has(board("mcc"), "1024 mode 1 ")) << board("mcc");
  connect(2, 20);
  EXPECT_FALSE(has(board("mcc"), "1025 ")) << board("mcc");
  connect(20, 2);
  EXPECT_TRUE(has(board("mcc"), "1025 mode 1 ")) << board("mcc");
  ASSERT_TRUE(awaitSeen(10, activated, linked) && awaitSeen(20, activated, linked)) << testing::PrintToString(got);

  // The terminal's channel takes nothing for a while: its frames wait, and
  // go out in order once it takes them again.
  const std::size_t before = e2e::count(board("mcc written 1024"), "\n");
  board("mcc stall 1024");
  // SETUPs of call references 0..6, each with 128 octets of user-user
  // information.
  for (int i = 0; i < 7; ++i) {
    const std::string body = "'08010" + std::to_string(i) + "0504038090A27E8104" + std::string(256, '4') + "'H";
    const Lines out = exchange(cmd(10 + i, 10, "userData : " + body));
    EXPECT_EQ(std::count(out.begin(), out.end(), ok(10 + i, 10)), 1) << testing::PrintToString(out);
  }
  EXPECT_EQ(e2e::count(board("mcc written 1024"), "\n"), before);
  board("mcc resume 1024");
  // The links' statistics, every 3000 ms, may come among the frames.
  const std::size_t from = got.size();
  ASSERT_TRUE(await([&] { return count("userData", 20, from) >= 7; })) << testing::PrintToString(got);
  Lines messages;
  for (std::size_t i = from; i < got.size(); ++i)
    if (isOf(20, got[i]) && kind(got[i]) == "userData") messages.push_back(got[i].substr(0, 45));
  for (int i = 0; i < 7; ++i)
    EXPECT_EQ(messages.at(static_cast<std::size_t>(i)),
              signal(20, "userData : '08 01 0" + std::to_string(i) + " 05 04").substr(0, 45));
  // A message on the dummy call reference is three octets long: it reaches
  // the controller like any other.
  const std::size_t dummy = got.size();
  const Lines sent = exchange(cmd(17, 10, "userData : '080062'H"));
  EXPECT_EQ(std::count(sent.begin(), sent.end(), ok(17, 10)), 1) << testing::PrintToString(sent);
  EXPECT_TRUE(await([&] { return count("userData : '08 00 62'H", 20, dummy) == 1; })) << testing::PrintToString(got);

  // An ISDN slot of type BRI allocates its own channel in BRI mode at once.
  ASSERT_EQ(exchange(cmd(30, 30, "create : isdn : { type bri, trunk 1, log 0, side user : NULL }")),
            Lines{ok(30, 30)});
  EXPECT_TRUE(has(board("mcc"), "1026 mode 1 ")) << board("mcc");
  // Its frames are not traced without the trace switch.
  EXPECT_EQ(exchange(cmd(31, 30, "activate : empty : NULL")), Lines{ok(31, 30)});
  ASSERT_TRUE(e2e::waitFor([&] { return !board("mcc written 1026").empty(); }));
  EXPECT_FALSE(has(daemon->out() + daemon->err(), "30:MCC: tx")) << daemon->err();

  if (const char* why = linktest::tshark_missing()) GTEST_SKIP() << why;
  const std::string frames = tshark("bri-terminal.pcap");
  // The network side checks the TEIs in use when it starts.
  EXPECT_TRUE(has(frames, "Identity Check Request")) << frames;
  EXPECT_TRUE(has(frames, "Identity Check Response")) << frames;
}

// A slot cut from its trunk timeslot forgets it: activated, or destroyed,
// it leaves the line to the slot connected there since.
TEST_F(SignallingSlots, ACutSlotLeavesItsOldLineToTheSlotConnectedThereSince) {
  start();
  ASSERT_EQ(exchange(cmd(1, 2, "create : trunk : { trunk 2, timeslot 16 }")).front(), ok(1, 2));
  ASSERT_EQ(exchange(cmd(2, 10, "create : pstn : isdn : { type pri, trunk 3, log 0, side user : NULL }")),
            Lines{ok(2, 10)});
  ASSERT_EQ(exchange(cmd(3, 11, "create : pstn : ss7 : { trunk 3, slc 0, dpc 2, opc 1, emergency TRUE }")),
            Lines{ok(3, 11)});
  connect(2, 10);
  ASSERT_EQ(exchange(cmd(4, 10, "disconnect : NULL")), (Lines{signal(10, "deactivated : networkError"), ok(4, 10)}));
  connect(2, 11);
  const std::string line = matrix(80);
  ASSERT_TRUE(has(line, "80 <- 10")) << line;
  board("journal clear");
  EXPECT_EQ(exchange(cmd(5, 10, "activate : empty : NULL")),
            (Lines{signal(10, "deactivated : networkError"), ok(5, 10)}));
  EXPECT_EQ(matrix(80), line);
  // The board's trunk and register polls go on meanwhile.
  const std::string journal = board("journal");
  EXPECT_FALSE(has(journal, sysroot::mcc_ctl) || has(journal, "(connect ")) << journal;
  EXPECT_EQ(exchange(cmd(6, 10, "destroy : NULL")), Lines{ok(6, 10)});
  EXPECT_EQ(matrix(80), line);
}

// A controller that takes the line from a slot (a disconnect of the trunk
// slot) and gives it back has the slot drive it again, and the peer hears
// it; towards another line the slot drives nothing.
TEST_F(SignallingSlots, ASlotConnectedAgainTowardsItsTrunkDrivesTheLineAgain) {
  start();
  ASSERT_EQ(exchange(cmd(1, 3, "create : trunk : { trunk 0, timeslot 17 }")).front(), ok(1, 3));
  const struct {
    const char* first;
    const char* second;
    const char* data;
    const char* received;
  } cases[] = {
      {"isdn : { type pri, trunk 1, log 0, side user : NULL }", "isdn : { type pri, trunk 2, log 0, side network : NULL }",
       setup, setupText},
      {"ss7 : { trunk 1, slc 0, dpc 2, opc 1, emergency TRUE }", "ss7 : { trunk 2, slc 0, dpc 1, opc 2, emergency TRUE }",
       "'8102400000114012345678'H", "'81 02 40 00 00 11 40 12 34 56 78'H"},
  };
  bool first = true;
  for (const auto& k : cases) {
    SCOPED_TRACE(k.first);
    if (!first) unpair();
    first = false;
    pair(k.first, k.second);
    const std::string line = matrix(16);
    ASSERT_TRUE(has(line, "16 <- 1024")) << line;
    const Lines out = exchange(cmd(5, 1, "disconnect : NULL"));
    EXPECT_EQ(std::count(out.begin(), out.end(), ok(5, 1)), 1) << testing::PrintToString(out);
    EXPECT_TRUE(has(matrix(16), "16 = 0xD5")) << matrix(16);
    connect(10, 1);
    EXPECT_EQ(matrix(16), line);
    const std::string other = matrix(17);
    connect(10, 3);
    EXPECT_EQ(matrix(17), other);
    const std::size_t from = got.size();
    c.send(cmd(6, 10, std::string("userData : ") + k.data));
    EXPECT_TRUE(await([&] { return count(std::string("userData : ") + k.received, 20, from) == 1; }, 5s))
        << testing::PrintToString(got);
  }
}

// A link cut and connected again comes up again, however soon: nothing of
// its last run (a release, its timers) meets the new connection. The cut
// side says "deactivated" at once, and nothing on its closed channel: the
// peer hears nothing of the cut. An SS7 peer in service takes the new
// alignment for a failure of its link, as MTP2 must, and comes up again
// when its controller starts it, as after any "deactivated".
TEST_F(SignallingSlots, ALinkCutAndConnectedAgainComesBackWhateverTheGap) {
  start();
  const struct {
    const char* first;
    const char* second;
    std::chrono::milliseconds gap;
    const char* data;
    const char* received;
    // A LAPD link is up within 3 s; an SS7 link proves its alignment
    // first, which an emulated, loaded machine can stretch.
    std::chrono::seconds within;
    bool peerRestarts;
  } cases[] = {
      {"isdn : { type pri, trunk 1, log 0, side user : NULL }", "isdn : { type pri, trunk 2, log 0, side network : NULL }",
       0ms, setup, setupText, 3s, false},
      {nullptr, nullptr, 100ms, setup, setupText, 3s, false},
      {nullptr, nullptr, 1s, setup, setupText, 3s, false},
      {nullptr, nullptr, 5s, setup, setupText, 3s, false},
      {"ss7 : { trunk 1, slc 0, dpc 2, opc 1, emergency TRUE }", "ss7 : { trunk 2, slc 0, dpc 1, opc 2, emergency TRUE }",
       0ms, "'8102400000114012345678'H", "'81 02 40 00 00 11 40 12 34 56 78'H", 15s, true},
  };
  int seq = 10;
  for (const auto& k : cases) {
    SCOPED_TRACE(k.data + std::string(" after ") + std::to_string(k.gap.count()) + " ms");
    if (k.first) {
      // The slots of the kind before go first.
      if (seq > 10) unpair();
      pair(k.first, k.second);
    }
    const std::size_t cut = got.size();
    const std::string written = board("mcc written 1024");
    const Lines out = exchange(cmd(++seq, 10, "disconnect : NULL"));
    got.insert(got.end(), out.begin(), out.end());
    EXPECT_EQ(count("deactivated", 10, cut), 1);
    if (k.gap.count() > 0) await([] { return false; }, k.gap);
    settle();
    // Nothing was offered to the closed channel (the statistics that came
    // with "deactivated" say so) nor written before it closed.
    EXPECT_EQ(count("txDiscard 0,", 10, cut), std::max(1, count("hdlcLinkInfo", 10, cut)));
    EXPECT_EQ(board("mcc written 1024"), written);
    EXPECT_EQ(count("deactivated", 20, cut), 0);
    const std::size_t from = got.size();
    const auto connected = Clock::now();
    connect(1, 10);
    std::size_t started = from;
    if (k.peerRestarts) {
      ASSERT_TRUE(await([&] { return seen(20, "deactivated", from); }, k.within)) << testing::PrintToString(got);
      started = got.size();
      const Lines answer = exchange(cmd(++seq, 20, "activate : empty : NULL"));
      EXPECT_EQ(std::count(answer.begin(), answer.end(), ok(seq, 20)), 1) << testing::PrintToString(answer);
      got.insert(got.end(), answer.begin(), answer.end());
    }
    const auto up = [&] { return seen(10, activated, from) && (!k.peerRestarts || seen(20, activated, started)); };
    ASSERT_TRUE(await(up, k.within)) << testing::PrintToString(got);
    EXPECT_LT(Clock::now() - connected, k.within);
    EXPECT_EQ(count("deactivated", 10, cut), 1);
    c.send(cmd(++seq, 10, std::string("userData : ") + k.data));
    ASSERT_TRUE(await([&] { return count(std::string("userData : ") + k.received, 20, from) == 1; }, 5s))
        << testing::PrintToString(got);
    // No DISC (user side: address 00 01, control 53) on the new line.
    const std::string frames = board("mcc written 1024");
    EXPECT_FALSE(has(frames, "00 01 53")) << frames;
  }
}

TEST_F(SignallingSlots, AtsQsigBChannelsComeAndGoWithTheirSlotsAndFramesAreTracedUnderTheSwitch) {
  start("[traces]\nsignalling.isdn = yes\n");
  ASSERT_EQ(exchange(cmd(1, 30, "create : ats-qsig : { side user : NULL, log 0 }")), Lines{ok(1, 30)});
  EXPECT_EQ(exchange(cmd(2, 31, "create : ats-qsig-b : { slot 30, subslot 3 }")), Lines{ok(2, 31)});
  EXPECT_EQ(board("dspdata"), "5120 open b2 5123 sent 0 received 0\n");
  EXPECT_EQ(exchange(cmd(3, 31, "destroy : NULL")), Lines{ok(3, 31)});
  EXPECT_EQ(board("dspdata"), "5120 open sent 0 received 0\n");
  ASSERT_EQ(exchange(cmd(4, 1, "create : trunk : { trunk 0, timeslot 5 }")).front(), ok(4, 1));
  EXPECT_EQ(exchange(cmd(5, 32, "create : ats-qsig-b : { slot 1, subslot 1 }")),
            Lines{refused(5, 32, "insufficientResources")});

  // The D channel's link asks for its peer; the board answers for it.
  const std::size_t from = got.size();
  EXPECT_EQ(exchange(cmd(6, 30, "activate : empty : NULL")), Lines{ok(6, 30)});
  ASSERT_TRUE(e2e::waitFor([&] { return has(board("dspdata written 5120"), "00 01 7F"); }));
  board("dspdata inject 5120 00 01 73");
  ASSERT_TRUE(awaitSeen(30, activated, from)) << testing::PrintToString(got);
  const std::string log = daemon->out() + daemon->err();
  EXPECT_TRUE(has(log, "30:ATS-QSIG: tx 00 01 7F")) << log;
  EXPECT_TRUE(has(log, "30:ATS-QSIG: rx 00 01 73")) << log;
}

}  // namespace signalling_slots_test
