// Software T.38 slots of the real daemon with a stand-in of the board's
// T.38 program (tests/slots/t38_standin.cpp) installed under its root: the
// program's argv and standard input as it saw them, its end as the
// controller hears it, and the instances the resource report counts.
#include <gtest/gtest.h>
#include <signal.h>

#include <algorithm>
#include <chrono>
#include <cstdlib>
#include <iostream>
#include <thread>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <string>

#include "platform/sysroot.h"
#include "tests/child_records.h"
#include "tests/e2e/lgcp_controller.h"
#include "tests/e2e/process_scan.h"

namespace {

using e2e::cmd;
using e2e::Lines;
using e2e::ok;
using e2e::signal;
using namespace std::chrono_literals;

std::string create(int seq, int slot) {
  return cmd(seq, slot,
             "create : t38soft : { dhost { iaddr \"192.0.2.9\", port 4100 }, shost { iaddr \"0.0.0.0\", port 4200 "
             "}, rx-packet-size 160, rx-threshold 1, tx-threshold 1, args { } }");
}

class T38SoftSlots : public e2e::ControllerTest {
 protected:
  void SetUp() override {
    if (testproc::Emulator()) GTEST_SKIP() << "qemu-user: an emulated daemon cannot start a target program";
    root.make_parent(sysroot::t38);
    std::filesystem::copy_file(e2e::buildDir() + "/tests/slots/t38-standin", root.path(sysroot::t38));
    std::filesystem::create_directories(records());
  }
  std::string records() const { return root.dir() + "/t38/"; }
  // Channels the board has handed out and not yet taken back.
  std::string channelsInUse() const {
    std::string out;
    std::istringstream lines(board("mcc"));
    for (std::string line; std::getline(lines, line);)
      if (line.find(" free") == std::string::npos) out += line + "\n";
    return out;
  }
  // Nothing the daemon started still runs, and no channel is held.
  bool nothingLeft() const { return e2e::childrenOf(daemon->pid()).empty() && channelsInUse().empty(); }
  void tell(const std::string& name, const std::string& text) const { std::ofstream(records() + name) << text; }
  // A record of the one child the stand-in ran ("" before it exists).
  std::string record(const std::string& suffix) const {
    for (const auto& entry : std::filesystem::directory_iterator(records()))
      if (entry.path().extension() == suffix) return e2e::readFile(entry.path().string());
    return "";
  }
  // That child's pid, as the daemon names it (its records are named so).
  pid_t programPid() const {
    for (const auto& entry : std::filesystem::directory_iterator(records()))
      if (entry.path().extension() == ".argv") return std::atoi(entry.path().stem().c_str());
    return -1;
  }
};

TEST_F(T38SoftSlots, TheProgramGetsItsArgumentsAndTheChannelAndItsExitCodeComesBack) {
  tell("exit", "5 3");  // after 5 octets of input, exit 3
  tell("instances", "6");
  start();
  // 30 extra arguments, of which the program gets the first 27.
  std::string args, expected = std::string(sysroot::t38) + "\n--child\n--remote\n192.0.2.9/4100/4200\n";
  for (int i = 0; i < 30; ++i) {
    args += (i ? ", \"-a" : "\"-a") + std::to_string(i) + "\"";
    if (i < 27) expected += "-a" + std::to_string(i) + "\n";
  }
  EXPECT_EQ(c.exchange(cmd(1, 7,
                           "create : t38soft : { dhost { iaddr \"192.0.2.9\", port 4100 }, shost { iaddr "
                           "\"0.0.0.0\", port 4200 }, rx-packet-size 160, rx-threshold 1, tx-threshold 1, "
                           "args { " +
                               args + " } }")),
            (Lines{ok(1, 7), signal(7, "transmitter : active : 1024"), signal(7, "receiver : active : 1024")}));
  ASSERT_TRUE(e2e::waitFor([&] { return !record(".argv").empty(); })) << daemon->err();
  EXPECT_EQ(record(".argv"), expected);
  ASSERT_EQ(e2e::simboardctl(root.dir(), "mcc inject 1024 0A 0B 0C 0D 0E").status, 0);
  EXPECT_EQ(c.next(), signal(7, "abort : 768"));
  EXPECT_EQ(record(".in"), "\x0A\x0B\x0C\x0D\x0E");
  // The count is read from the loop: the report may follow the ping.
  Lines report = c.exchange("{ seq 2, pdu command : query : NULL }");
  if (report.size() == 1) report.push_back(c.next());
  ASSERT_EQ(report.size(), 2u);
  EXPECT_NE(report[1].find("t38-instances 6,"), std::string::npos) << report[1];
  EXPECT_EQ(c.exchange(cmd(3, 7, "destroy : NULL")), Lines{ok(3, 7)});
}

// A controller that drops right after its creates: the programs started
// for them end, however early the stop reaches them, and give their
// channels back.
TEST_F(T38SoftSlots, ControllerResetsRightAfterTwoCreatesLeaveNoProgramAndNoChannel) {
  start();
  for (int round = 0; round < 20; ++round) {
    SCOPED_TRACE("round " + std::to_string(round));
    c.send(create(1, 1));
    c.send(create(2, 2));
    c.close();
    ASSERT_TRUE(c.connect(port)) << daemon->err();
  }
  EXPECT_TRUE(e2e::waitFor([&] { return nothingLeft(); }, 3s))
      << e2e::childrenOf(daemon->pid()).size() << " programs left\n"
      << channelsInUse();
  // Each one ended on the stop it was sent; none had to be killed.
  const std::string log = daemon->out() + daemon->err();
  EXPECT_NE(e2e::count(log, "] successfully started"), 0u) << "no program was started";
  EXPECT_EQ(e2e::count(log, " status=15\n"), e2e::count(log, "] successfully started")) << log;
  EXPECT_EQ(e2e::count(log, "isn't terminated"), 0u) << log;
}

// A program that does not end on SIGTERM is killed once the grace period
// is over, with one line in the log, and its channel comes back.
TEST_F(T38SoftSlots, AProgramIgnoringTheStopIsKilledAfterTheGracePeriod) {
  tell("ignore-term", "");
  start();
  ASSERT_EQ(c.exchange(create(1, 7)).front(), ok(1, 7));
  ASSERT_TRUE(e2e::waitFor([&] { return !record(".argv").empty(); })) << daemon->err();
  const std::vector<e2e::Process> children = e2e::childrenOf(daemon->pid());
  ASSERT_EQ(children.size(), 1u);
  EXPECT_EQ(c.exchange(cmd(2, 7, "destroy : NULL")), Lines{ok(2, 7)});
  // Still there well inside the grace period: SIGTERM did not end it.
  EXPECT_FALSE(e2e::waitFor([&] { return nothingLeft(); }, 500ms));
  EXPECT_TRUE(e2e::waitFor([&] { return nothingLeft(); }, 5s)) << channelsInUse();
  const std::string line =
      "07:t38 soft: t38 daemon[" + std::to_string(children[0].pid) + "] isn't terminated, killing ...\n";
  EXPECT_EQ(e2e::count(daemon->err(), line), 1u) << daemon->err();
}

// What a program started goes with it: a child ignoring SIGTERM is killed
// once the grace period is over, after a destroy as after the daemon's own
// stop, also when the program has ended by itself and left a helper that
// holds the slot's channel (which then comes back), or a helper that
// started a child in its group, or left the group, after the end was
// read; and so is a program that ignores SIGTERM when the daemon stops. A
// helper that ends on the stop is not killed. What only took over a number
// of an ended program (run in a pid namespace, where the test hands it
// that number) is no one's to signal: a group that took the id of a
// program's emptied group (also where the daemon is the namespace's first
// process, and so every orphan's parent), a process that took the pid of a
// helper the program left once that went (after the destroy, before the
// deadline), or one that took the pid (or the group's id) of a program
// killed while the daemon worked through the batch that ends in its
// destroy. A program the daemon starts under an ended one's pid is a
// program like any other, whether it is started in such a batch and the
// killed one's slot stays, goes first or goes after, or later, when what
// the ended one left still runs: it hears no end but its own and goes at
// its destroy. A program's end is not lost when more ends than the
// daemon's child records hold come with it while the daemon is held.
TEST_F(T38SoftSlots, NothingAProgramStartedOutlivesTheGracePeriodOfADestroyOrOfTheDaemonsStop) {
  enum Took {
    none,
    groupTaken,
    helperPidTaken,
    nextProgram,
    endsWithOrphans,
    pidInBatch,
    groupInBatch,
    created,
    destroyedCreated,
    createdDestroyed
  };
  struct Case {
    const char* told;  // what the stand-in is told to do
    const char* exit;  // "BYTES CODE": the program ends by itself
    bool destroy;      // the slot is destroyed, else the daemon stopped
    const char* killed;
    Took taker;          // what takes a number of the program, and when
    bool first = false;  // the daemon is the first process of its pid namespace
  };
  const char* const started = "]: 1 of the processes it started isn't terminated, killing ...\n";
  const Case cases[] = {
      {"child-ignoring-term", "", true, started, none},
      {"child-ignoring-term", "", false, started, none},
      {"ignore-term", "", false, "] isn't terminated, killing ...\n", none},
      {"helper-holding-input", "0 3", true, started, none},
      {"helper-holding-input", "0 3", false, started, none},
      {"helper-ending-on-term", "0 3", true, nullptr, none},
      {"helper-forking-into-group", "0 3", true, started, none},
      {"helper-forking-into-group", "0 3", false, started, none},
      {"", "0 3", true, nullptr, groupTaken},
      {"", "0 3", false, nullptr, groupTaken},
      {"helper-holding-input", "0 3", true, nullptr, helperPidTaken},
      {"helper-leaving-group", "0 3", true, started, groupTaken},
      {"helper-leaving-group", "0 3", true, started, groupTaken, true},
      {"helper-leaving-group", "0 3", true, started, nextProgram},
      {"", "0 3", true, nullptr, endsWithOrphans},
      {"", "", true, nullptr, pidInBatch},
      {"", "", true, nullptr, groupInBatch},
      {"", "", true, nullptr, created},
      {"", "", true, nullptr, destroyedCreated},
      {"", "", true, nullptr, createdDestroyed},
  };
  const char* const takers[] = {"",
                                ", its group taken",
                                ", its helper's pid taken",
                                ", its pid the next program's after its end was read",
                                ", its orphans ending with another slot's program, whose pid is taken",
                                ", its pid taken",
                                ", its group taken in the batch",
                                ", its pid the next program's, created",
                                ", its pid the next program's, destroyed then created",
                                ", its pid the next program's, created then destroyed"};
  constexpr auto grace = 2s;
  constexpr int rounds = 5;
  const std::string noNamespace = enterPidNamespace();
  for (const Case& k : cases) {
    const std::string row = std::string(k.told) + (*k.exit ? ", ended" : "") +
                            (k.destroy ? ", destroyed" : ", daemon stopped") + takers[k.taker] +
                            (k.first ? ", the daemon first of its namespace" : "");
    SCOPED_TRACE(row);
    if (k.taker != none && !pids) {
      passOver(testkit::refused("no pid namespace here, for the impostors' rows: " + noNamespace), row);
      continue;
    }
    const bool inBatch = k.taker >= pidInBatch;
    if (inBatch && !canHoldBehind(row)) continue;
    // Rows that need a number taken within a window run again when it
    // was missed.
    const bool windowed = inBatch || k.taker == helperPidTaken;
    bool raced = false;
    for (int round = 0; round < (windowed ? rounds : 1) && !raced; ++round) {
      std::filesystem::remove_all(records());
      std::filesystem::create_directories(records());
      if (*k.told) tell(k.told, "");
      if (*k.exit) tell("exit", k.exit);
      if (k.taker == endsWithOrphans) tell("orphans", std::to_string(2 * testkit::childRecordRoom()));
      // Where the daemon is the first process, it lasts only as long.
      std::unique_ptr<testkit::PidNamespace> shared;
      if (k.first) {
        shared = std::move(pids);
        pids = std::make_unique<testkit::PidNamespace>(true);
        ASSERT_EQ(pids->why(), "");
      }
      start();
      if (k.first) {
        ASSERT_EQ(pids->hostPid(1), daemon->pid()) << "the daemon is not the first process";
      }
      Lines answered = c.exchange(create(1, 7));
      ASSERT_EQ(answered.front(), ok(1, 7));
      ASSERT_TRUE(e2e::waitFor([&] { return !record(".argv").empty(); })) << daemon->err();
      const pid_t program = programPid();
      std::vector<e2e::Process> tree;
      if (*k.exit) {
        // The end may come before the answer to the create's ping.
        if (answered.size() == 3) answered.push_back(c.next());
        EXPECT_EQ(answered, (Lines{ok(1, 7), signal(7, "transmitter : active : 1024"),
                                  signal(7, "receiver : active : 1024"), signal(7, "abort : 768")}));
      } else {
        tree = e2e::childrenOf(daemon->pid());
        ASSERT_EQ(tree.size(), 1u);
      }
      if (*k.told && std::string(k.told) != "ignore-term") {
        ASSERT_TRUE(e2e::waitFor([&] { return !record(".child").empty(); }));
        tree.push_back(e2e::capture(seen(std::atoi(record(".child").c_str()))));
      }
      const e2e::Process helper = tree.empty() ? e2e::Process{} : tree.back();
      if (std::string(k.told) == "helper-forking-into-group") {
        // Its end has been read; then the helper starts a child and exits,
        // and is reaped at once (a zombie would still pass for it).
        tell("fork-now", "");
        ASSERT_TRUE(e2e::waitFor([&] { return !record(".grandchild").empty(); }));
        tree.push_back(e2e::capture(seen(std::atoi(record(".grandchild").c_str()))));
        EXPECT_TRUE(e2e::waitFor([&] { return e2e::gone(helper); }, 2s)) << "the helper not reaped";
      }
      if (std::string(k.told) == "helper-leaving-group") {
        // Its end has been read; then the helper leaves the group, which
        // empties.
        tell("leave-now", "");
        ASSERT_TRUE(e2e::waitFor([&] { return !record(".left").empty(); }));
      }
      const std::string notes = root.dir() + "/impostor";
      std::filesystem::remove(notes);
      e2e::Process impostor;
      if (k.taker == groupTaken) {
        impostor = e2e::capture(pids->impostor(program, true, notes));
        ASSERT_GT(impostor.start, 0u) << "the pid could not be had";
      }
      auto stopped = std::chrono::steady_clock::now();
      if (k.taker == pidInBatch || k.taker == groupInBatch) {
        Lines got;
        impostor = behindALongBatch({cmd(2, 7, "destroy : NULL")}, ok(2, 7), program,
                                    k.taker == pidInBatch ? Taker::pid : Taker::group, notes, got, raced);
        if (!raced) {
          notExercised(impostor);
          continue;
        }
        // Its end was read before the destroy, or after it as ever.
        EXPECT_TRUE(got.empty() || got == Lines{signal(7, "abort : 9")}) << testing::PrintToString(got);
      } else if (inBatch) {
        // The next program takes the killed one's pid, its records those
        // the killed one left.
        std::filesystem::remove_all(records());
        std::filesystem::create_directories(records());
        const std::string destroyed = cmd(2, 7, "destroy : NULL");
        const Lines tail = k.taker == created          ? Lines{create(3, 8)}
                           : k.taker == destroyedCreated ? Lines{destroyed, create(3, 8)}
                                                      : Lines{create(3, 8), destroyed};
        Lines got;
        behindALongBatch(tail, tail.back() == destroyed ? ok(2, 7) : ok(3, 8), program, Taker::program, notes, got,
                         raced);
        ASSERT_TRUE(e2e::waitFor([&] { return !record(".argv").empty(); }))
            << "the new program ended before it ran\n"
            << daemon->err();
        raced = raced && programPid() == program;
        if (!raced) {
          notExercised({});
          continue;
        }
        // The killed one's end goes to its own slot if it is still there,
        // never to the new one; nor does the killed one's destroy reach
        // the new program.
        Lines heard = got;
        for (const std::string& m : c.until()) heard.push_back(m);
        // The killed one's channel comes back when the board has seen it
        // closed: after its destroy, either may be the next.
        const std::string transmitter = "{ slot 8, pdu signal : transmitter : active : ";
        std::string channel = "1025";
        for (const std::string& m : heard)
          if (k.taker == destroyedCreated && m.rfind(transmitter, 0) == 0) channel = m.substr(transmitter.size(), 4);
        const Lines active{signal(8, "transmitter : active : " + channel), signal(8, "receiver : active : " + channel)};
        const Lines expected = k.taker == created            ? Lines{active[0], active[1], signal(7, "abort : 9")}
                               : k.taker == destroyedCreated ? Lines{ok(2, 7), active[0], active[1]}
                                                             : Lines{ok(3, 8), active[0], active[1]};
        EXPECT_EQ(heard, expected);
        tree = {e2e::capture(seen(program))};
        // It reads what comes on its channel after the killed one's slot
        // has gone, so no stop reached it (one pending would end it first).
        ASSERT_EQ(e2e::simboardctl(root.dir(), "mcc inject " + channel + " 0A").status, 0);
        EXPECT_TRUE(e2e::waitFor([&] { return record(".in") == "\x0A"; })) << "the new program has ended";
        stopped = std::chrono::steady_clock::now();
        EXPECT_EQ(c.exchange(cmd(4, 8, "destroy : NULL")), Lines{ok(4, 8)});
      } else if (k.taker == nextProgram) {
        // The next program takes the pid of the ended one, whose helper
        // has left the group: the old slot's destroy reaches the helper,
        // not the new program.
        std::filesystem::remove_all(records());
        std::filesystem::create_directories(records());
        ASSERT_TRUE(pids->handNext(program));
        EXPECT_EQ(c.exchange(create(3, 8)),
                  (Lines{ok(3, 8), signal(8, "transmitter : active : 1025"), signal(8, "receiver : active : 1025")}));
        ASSERT_TRUE(e2e::waitFor([&] { return !record(".argv").empty(); })) << daemon->err();
        ASSERT_EQ(programPid(), program) << "the pid could not be had";
        const e2e::Process fresh = e2e::capture(seen(program));
        stopped = std::chrono::steady_clock::now();
        EXPECT_EQ(c.exchange(cmd(2, 7, "destroy : NULL")), Lines{ok(2, 7)});
        ASSERT_EQ(e2e::simboardctl(root.dir(), "mcc inject 1025 0A").status, 0);
        EXPECT_TRUE(e2e::waitFor([&] { return record(".in") == "\x0A"; })) << "the new program has ended";
        EXPECT_EQ(c.exchange(cmd(4, 8, "destroy : NULL")), Lines{ok(4, 8)});
        EXPECT_TRUE(e2e::allEndBy({fresh}, std::chrono::steady_clock::now() + grace / 2)) << "the new program";
      } else if (k.taker == endsWithOrphans) {
        // Another slot's program, started after the orphans became the
        // daemon's, ends with them while the daemon is held: more ends
        // than the pair holds, its own last.
        std::filesystem::remove_all(records());
        std::filesystem::create_directories(records());
        EXPECT_EQ(c.exchange(create(3, 8)).front(), ok(3, 8));
        ASSERT_TRUE(e2e::waitFor([&] { return !record(".argv").empty(); })) << daemon->err();
        const pid_t other = programPid();
        std::vector<e2e::Process> ending = e2e::childrenOf(daemon->pid());
        const e2e::Process otherProgram = e2e::capture(seen(other));
        ending.erase(std::remove(ending.begin(), ending.end(), otherProgram), ending.end());
        ASSERT_EQ(ending.size(), 2 * testkit::childRecordRoom());
        const std::string daemonStat = std::string(sysroot::proc_dir) + "/" + std::to_string(daemon->pid()) + "/stat";
        daemon->signal(SIGSTOP);
        ASSERT_TRUE(e2e::waitFor([&] { return e2e::readFile(daemonStat).find(") T ") != std::string::npos; }));
        for (const e2e::Process& o : ending) e2e::kill(o, SIGUSR1);
        ending.push_back(otherProgram);
        e2e::kill(otherProgram, SIGKILL);
        const bool together = e2e::waitFor([&] { return std::all_of(ending.begin(), ending.end(), e2e::ended); });
        daemon->signal(SIGCONT);
        ASSERT_TRUE(together) << "not all ended while the daemon was held";
        EXPECT_EQ(c.next(), signal(8, "abort : 9"));
        ASSERT_TRUE(e2e::waitFor([&] { return e2e::gone(otherProgram); })) << "never reaped";
        impostor = e2e::capture(pids->impostor(other, false, notes));
        ASSERT_GT(impostor.start, 0u) << "the pid could not be had";
        EXPECT_EQ(c.exchange(cmd(4, 8, "destroy : NULL")), Lines{ok(4, 8)});
        EXPECT_EQ(c.exchange(cmd(2, 7, "destroy : NULL")), Lines{ok(2, 7)});
      } else if (k.destroy) {
        EXPECT_EQ(c.exchange(cmd(2, 7, "destroy : NULL")), Lines{ok(2, 7)});
      } else {
        daemon->signal(SIGTERM);
        EXPECT_EQ(daemon->exitCode(), 0) << daemon->err();
      }
      raced = true;
      if (k.taker == helperPidTaken) {
        // The helper it left, told to stop, goes before the deadline, and
        // its pid is taken.
        e2e::kill(helper, SIGKILL);
        ASSERT_TRUE(e2e::waitFor([&] { return e2e::gone(helper); }));
        impostor = e2e::capture(pids->impostor(std::atoi(record(".child").c_str()), false, notes));
        ASSERT_GT(impostor.start, 0u) << "the pid could not be had";
        raced = std::chrono::steady_clock::now() < stopped + grace;
        if (!raced) {
          notExercised(impostor);
          continue;
        }
      }
      if (impostor.start != 0) {
        EXPECT_FALSE(e2e::waitFor([&] { return e2e::ended(impostor) || !e2e::readFile(notes).empty(); }, grace + 1s));
        EXPECT_EQ(e2e::readFile(notes), "") << "signals the impostor got";
        e2e::kill(impostor, SIGKILL);
      }
      // Gone on the stop, or killed after the grace period.
      EXPECT_TRUE(e2e::allEndBy(tree, stopped + (k.killed ? grace + 1s : grace / 2)));
      EXPECT_EQ(e2e::count(daemon->err(), k.killed ? k.killed : "isn't terminated"), k.killed ? 1u : 0u)
          << daemon->err();
      if (k.destroy) {
        // The next program gets the channel back.
        if (k.taker == created) {
          EXPECT_EQ(c.exchange(cmd(5, 7, "destroy : NULL")), Lines{ok(5, 7)});
        }
        std::filesystem::remove_all(records());
        std::filesystem::create_directories(records());
        EXPECT_TRUE(e2e::waitFor([&] { return channelsInUse().empty(); }, 1s)) << channelsInUse();
        EXPECT_EQ(c.exchange(create(3, 9)),
                  (Lines{ok(3, 9), signal(9, "transmitter : active : 1024"), signal(9, "receiver : active : 1024")}));
        daemon->signal(SIGTERM);
        EXPECT_EQ(daemon->exitCode(), 0) << daemon->err();
      }
      daemon.reset();
      if (shared) pids = std::move(shared);
    }
    if (windowed && !raced)
      ADD_FAILURE() << "not exercised: the number was not taken within its window (before the daemon handled the "
                       "batch, or before the deadline), "
                    << rounds << " rounds";
  }
  skipIfPassedOver();
}

// The program's count is awaited from the loop: a program that takes its
// time stalls nothing, one that answers within the second still counts,
// and one that does not is killed, with one line, and counts 0.
TEST_F(T38SoftSlots, ASlowCountStallsNothingAndAHungOneIsKilledWithOneLine) {
  tell("instances", "6");
  tell("instances-delay", "10000");
  start();
  c.send("{ seq 2, pdu command : query : NULL }");
  EXPECT_EQ(c.next(), "{ seq 2, pdu response : success : NULL }");
  std::chrono::milliseconds slowest{0};
  std::string report;
  for (int i = 0; i < 100 && report.empty(); ++i) {
    const auto sent = std::chrono::steady_clock::now();
    c.send("{ seq 3, pdu command : ping : NULL }");
    for (std::string m; (m = c.next(3s)) != "{ seq 3, pdu response : success : NULL }";) {
      ASSERT_FALSE(m.empty()) << "no answer to a ping";
      report = m;
    }
    slowest = std::max(slowest,
                       std::chrono::duration_cast<std::chrono::milliseconds>(std::chrono::steady_clock::now() - sent));
    std::this_thread::sleep_for(20ms);
  }
  // Polled in steps; a stalled loop would hold a ping for the whole second.
  EXPECT_LT(slowest.count(), 500) << "ms for the slowest ping";
  std::cout << "slowest ping while the count ran: " << slowest.count() << " ms\n";
  ASSERT_FALSE(report.empty());
  EXPECT_NE(report.find("t38-instances 0,"), std::string::npos) << report;
  EXPECT_EQ(e2e::count(daemon->err() + daemon->out(), "can't detect T38 resources"), 1u) << daemon->err();
  EXPECT_TRUE(e2e::waitFor([&] { return e2e::childrenOf(daemon->pid()).empty(); }, 3s)) << "the program still runs";

  tell("instances-delay", "300");
  Lines answer = c.exchange("{ seq 4, pdu command : query : NULL }");
  if (answer.size() == 1) answer.push_back(c.next());
  ASSERT_EQ(answer.size(), 2u);
  EXPECT_NE(answer[1].find("t38-instances 6,"), std::string::npos) << answer[1];
}

}  // namespace
