#pragma once
// A controller on one TCP connection to a daemon, speaking value notation
// through the project's coder (raw_client.h for octets), and the value
// notation of the messages the tests expect. What the daemon sends of its
// own accord whatever the test does (the trunks' and the power status) is
// passed over and counted.
#include <errno.h>
#include <gtest/gtest.h>
#include <linux/capability.h>
#include <sched.h>
#include <string.h>
#include <sys/resource.h>
#include <sys/syscall.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <iostream>
#include <iterator>
#include <memory>
#include <set>
#include <string>
#include <thread>
#include <utility>
#include <vector>

#include "asn1/modules/LGCP.h"
#include "tests/e2e/daemon_harness.h"
#include "tests/e2e/process_scan.h"
#include "tests/e2e/raw_client.h"
#include "tests/pid_namespace.h"

namespace e2e {

using Lines = std::vector<std::string>;

class Controller {
 public:
  bool connect(int port) {
    late_.clear();
    return waitFor([&] { return client_.connect(port) && ping(); });
  }
  void close() {
    client_.close();
    late_.clear();
  }

  void send(const std::string& valueNotation) { client_.sendPayload(encode(valueNotation)); }
  // The octets of a message on the wire.
  static std::size_t octets(const std::string& valueNotation) { return tpkt(encode(valueNotation)).size(); }
  // Sends the messages in one write, as one stretch of octets.
  void sendTogether(const Lines& valueNotations) {
    Bytes all;
    for (const std::string& m : valueNotations) {
      const Bytes frame = tpkt(encode(m));
      all.insert(all.end(), frame.begin(), frame.end());
    }
    client_.write(all);
  }
  // The next message, or "" when none came within the deadline (which the
  // status reports passed over do not extend).
  std::string next(std::chrono::milliseconds deadline = std::chrono::seconds(5)) {
    const auto end = std::chrono::steady_clock::now() + deadline;
    Bytes payload;
    while (client_.frame(payload, std::max(std::chrono::milliseconds(0),
                                           std::chrono::duration_cast<std::chrono::milliseconds>(
                                               end - std::chrono::steady_clock::now())))) {
      const std::string text = decode(payload);
      if (text.rfind("{ pdu signal : trunkStatus", 0) == 0 || text.rfind("{ pdu signal : power", 0) == 0) {
        ++trunkReports_;
        continue;
      }
      return text;
    }
    return "";
  }
  // The next n messages.
  Lines take(int n) {
    Lines out;
    while (n-- > 0) out.push_back(next());
    return out;
  }
  // Everything the daemon sent up to the answer to a ping sent after it.
  // Each call pings with a number of its own: the answer to the ping of an
  // earlier call that gave up waiting ends nothing now, nor is it reported.
  Lines until() {
    const std::string seq = std::to_string(65000 + pings_++ % 500);
    send("{ seq " + seq + ", pdu command : ping : NULL }");
    const std::string answer = "{ seq " + seq + ", pdu response : success : NULL }";
    Lines out;
    for (std::string m; !(m = next()).empty();) {
      if (m == answer) return out;
      if (late_.erase(m) == 0) out.push_back(m);
    }
    late_.insert(answer);
    return out;
  }
  // Sends a command: its answer and the signals it caused, in order.
  Lines exchange(const std::string& valueNotation) {
    send(valueNotation);
    return until();
  }
  // The same in octets, for a payload given in hex.
  Lines exchangeHex(const std::string& payload) {
    client_.sendPayload(hex(payload));
    Lines out;
    for (const std::string& m : until()) out.push_back(hex(encode(m)));
    return out;
  }
  bool ping() {
    client_.sendPayload(hex("80 01 63 18"));
    return next(std::chrono::seconds(2)) == "{ seq 99, pdu response : success : NULL }";
  }
  int trunkReports() const { return trunkReports_; }

 private:
  static Bytes encode(const std::string& valueNotation) {
    LGCP::Message m;
    EXPECT_TRUE(m.setFromValueNotation(valueNotation)) << valueNotation;
    ASN1::CoderEnv env(ASN1::CoderEnv::per_Aligned);
    std::vector<char> out;
    EXPECT_TRUE(ASN1::encode(m, &env, std::back_inserter(out)));
    return Bytes(out.begin(), out.end());
  }
  static std::string decode(const Bytes& payload) {
    LGCP::Message m;
    ASN1::CoderEnv env(ASN1::CoderEnv::per_Aligned);
    const char* first = reinterpret_cast<const char*>(payload.data());
    if (!ASN1::decode(first, first + payload.size(), &env, m)) return "(undecodable " + hex(payload) + ")";
    std::string flat;
    bool blank = false;
    for (char c : m.asValueNotation()) {
      if (c == '\n' || c == ' ') {
        blank = !flat.empty();
        continue;
      }
      if (blank) flat += ' ';
      blank = false;
      flat += c;
    }
    return flat;
  }

  RawClient client_;
  int trunkReports_ = 0;
  int pings_ = 0;
  std::set<std::string> late_;  // answers to until()'s pings that it gave up on
};

inline std::string ok(int seq, int slot) {
  return "{ seq " + std::to_string(seq) + ", slot " + std::to_string(slot) + ", pdu response : success : NULL }";
}
inline std::string refused(int seq, int slot, const std::string& cause) {
  return "{ seq " + std::to_string(seq) + ", slot " + std::to_string(slot) + ", pdu response : error : " + cause +
         " }";
}
inline std::string cmd(int seq, int slot, const std::string& body) {
  return "{ seq " + std::to_string(seq) + ", slot " + std::to_string(slot) + ", pdu command : " + body + " }";
}
inline std::string signal(int slot, const std::string& body) {
  return "{ slot " + std::to_string(slot) + ", pdu signal : " + body + " }";
}

// The daemon with the test-only slot type (tests/slots/probe_slot.h).
inline std::string probeBinary() { return buildDir() + "/tests/e2e/korvend-sim-probe"; }

// A daemon of its own under a fresh root, and a controller connected to it.
class ControllerTest : public ::testing::Test {
 protected:
  ~ControllerTest() override {
    if (!daemon) return;
    daemon->signal(SIGTERM);
    EXPECT_EQ(daemon->exitCode(), 0) << daemon->err();
  }
  void start(const std::string& binary = simBinary()) {
    const std::vector<std::string> argv = programArgv(binary, {"--port", std::to_string(port)});
    if (pids)
      daemon = pids->in([&] {
        return std::make_unique<Daemon>(testkit::PidNamespace::withOwnProc(argv), root.dir(), root.dir());
      });
    else
      daemon = std::make_unique<Daemon>(argv, root.dir(), root.dir());
    ASSERT_TRUE(waitFor([&] { return !daemon->out().empty(); })) << daemon->err();
    ASSERT_TRUE(c.connect(port)) << daemon->err();
  }
  std::string board(const std::string& request) const { return simboardctl(root.dir(), request).out; }
  std::string matrix(int output) const { return board("matrix " + std::to_string(output)); }
  // Closes the controller and waits until the daemon has let it go, for
  // another to take its place. The daemon logs the close first and ends it
  // at the start of its next pass, refusing a controller that comes in
  // between; a request to the board, served in a later pass, comes back
  // after that.
  void letGo() {
    const std::size_t before = count(daemon->err(), " closed.\n");
    c.close();
    EXPECT_TRUE(waitFor([&] { return count(daemon->err(), " closed.\n") > before; })) << daemon->err();
    board("clock");
  }

  // A pid namespace the daemon is started in, if any.
  std::string enterPidNamespace() {
    pids = std::make_unique<testkit::PidNamespace>();
    const std::string why = pids->why();
    if (!why.empty()) pids.reset();
    return why;
  }
  // The pid the test sees for one the daemon's processes name.
  pid_t seen(pid_t pid) const { return pids ? pids->hostPid(pid) : pid; }

  // While it lives, the daemon runs on the calling thread's processor,
  // where that thread is held too, and only while the thread waits: once
  // the thread is woken, the daemon does nothing until it waits again.
  class Behind {
   public:
    // Why a daemon this process starts could not be put back from
    // SCHED_IDLE here ("" when it could): without CAP_SYS_NICE, only a
    // nice limit that allows its nice value (both inherited from this
    // process) lets a process leave that policy.
    static std::string cannot() {
      __user_cap_header_struct header{_LINUX_CAPABILITY_VERSION_3, 0};
      __user_cap_data_struct caps[_LINUX_CAPABILITY_U32S_3] = {};
      if (::syscall(SYS_capget, &header, caps) == 0 && (caps[CAP_SYS_NICE / 32].effective & (1u << (CAP_SYS_NICE % 32))))
        return "";
      errno = 0;
      const int nice = ::getpriority(PRIO_PROCESS, 0);
      struct rlimit limit;
      if (errno == 0 && ::getrlimit(RLIMIT_NICE, &limit) == 0 &&
          limit.rlim_cur >= static_cast<rlim_t>(20 - nice))
        return "";
      return "no CAP_SYS_NICE: the daemon, once at SCHED_IDLE behind the test, could not be put back, and the "
             "programs it starts would inherit that";
    }
    explicit Behind(pid_t daemon) : daemon_(daemon) {
      EXPECT_EQ(::sched_getaffinity(0, sizeof mine_, &mine_), 0) << ::strerror(errno);
      EXPECT_EQ(::sched_getaffinity(daemon, sizeof theirs_, &theirs_), 0) << ::strerror(errno);
      cpu_set_t one;
      CPU_ZERO(&one);
      CPU_SET(::sched_getcpu(), &one);
      EXPECT_EQ(::sched_setaffinity(0, sizeof one, &one), 0) << ::strerror(errno);
      EXPECT_EQ(::sched_setaffinity(daemon, sizeof one, &one), 0) << ::strerror(errno);
      const sched_param none{};
      EXPECT_EQ(::sched_setscheduler(daemon, SCHED_IDLE, &none), 0) << ::strerror(errno);
    }
    ~Behind() {
      const sched_param none{};
      EXPECT_EQ(::sched_setscheduler(daemon_, SCHED_OTHER, &none), 0) << "the daemon left at SCHED_IDLE";
      EXPECT_EQ(::sched_setaffinity(daemon_, sizeof theirs_, &theirs_), 0) << ::strerror(errno);
      EXPECT_EQ(::sched_setaffinity(0, sizeof mine_, &mine_), 0) << ::strerror(errno);
    }
    Behind(const Behind&) = delete;
    Behind& operator=(const Behind&) = delete;

   private:
    pid_t daemon_;
    cpu_set_t mine_, theirs_;
  };
  // A row of a table that cannot run here, and why: the rows that can
  // run still do, and the test then ends skipped, naming the others.
  void passOver(const std::string& why, const std::string& row) {
    for (auto& [reason, rows] : passedOver_)
      if (reason == why) {
        rows += "; \"" + row + "\"";
        return;
      }
    passedOver_.emplace_back(why, "\"" + row + "\"");
  }
  // Whether the daemon can be held behind the test here: when not, the
  // row is passed over, saying why.
  bool canHoldBehind(const std::string& row) {
    const std::string why = Behind::cannot();
    if (!why.empty()) passOver(testkit::refused(why), row);
    return why.empty();
  }
  // At the end of such a test. The emulator's reasons first, which the
  // board's build expects.
  void skipIfPassedOver() {
    if (passedOver_.empty()) return;
    std::stable_partition(passedOver_.begin(), passedOver_.end(),
                          [](const auto& p) { return p.first.rfind("qemu-user:", 0) == 0; });
    std::string text;
    for (const auto& [reason, rows] : passedOver_)
      text += (text.empty() ? "" : "; and ") + reason + ": rows passed over: " + rows;
    GTEST_SKIP() << text;
  }

  // What takes the number of a program killed in a batch.
  enum class Taker { pid, group, program };
  // Sends the tail commands behind as many pings as one read of the daemon
  // takes, in one write. While the daemon works through them, the slot's
  // program (pid as the daemon names it) is killed and, once the daemon
  // has reaped it but not yet read its end, its number is taken: by an
  // impostor in the pid namespace (Taker::pid, or Taker::group: the id of
  // its group) noting the signals it gets in notes
  // (PidNamespace::impostor), or by the daemon's next program
  // (Taker::program). Returns the impostor as the test sees it (none: no process),
  // in got what came up to `answer` but the pings' answers, and in raced
  // whether the number was taken while only those answers had come: the
  // daemon had not handled the tail yet.
  Process behindALongBatch(const Lines& tail, const std::string& answer, pid_t program, Taker taker,
                           const std::string& notes, Lines& got, bool& raced) {
    const std::string ping = "{ seq 64999, pdu command : ping : NULL }";
    const std::string pong = "{ seq 64999, pdu response : success : NULL }";
    std::size_t room = 40000;
    for (const std::string& t : tail) room -= Controller::octets(t);
    Lines batch(room / Controller::octets(ping), ping);
    batch.insert(batch.end(), tail.begin(), tail.end());
    const Process host = capture(seen(program));
    Lines early;
    bool taken = false;
    Process impostor;
    {
      const Behind behind(daemon->pid());
      // Stopped, so that the daemon reads the whole batch at once when it
      // goes on; stopped again once it has answered the first pings (the
      // answer wakes the test, which the daemon cannot then outrun).
      daemon->signal(SIGSTOP);
      c.sendTogether(batch);
      daemon->signal(SIGCONT);
      early.push_back(c.next());
      daemon->signal(SIGSTOP);
      kill(host, SIGKILL);
      waitFor([&] { return ended(host); });
      // Going on, it runs its SIGCHLD handler first, which reaps the
      // program, and is stopped as soon as the test wakes.
      daemon->signal(SIGCONT);
      testkit::until([&] { return gone(host); }, std::chrono::seconds(10),
                     [] { std::this_thread::sleep_for(std::chrono::milliseconds(1)); });
      daemon->signal(SIGSTOP);
      if (taker == Taker::program)
        taken = pids && pids->handNext(program);
      else
        taken = (impostor = capture(pids ? pids->impostor(program, taker == Taker::group, notes) : -1)).start != 0;
    }
    for (std::string m; !(m = c.next(std::chrono::milliseconds(0))).empty();) early.push_back(m);
    early.erase(std::remove(early.begin(), early.end(), pong), early.end());
    raced = taken && early.empty();
    daemon->signal(SIGCONT);
    std::string m;
    for (const std::string& e : early)
      if (m != answer && (m = e) != answer) got.push_back(e);
    for (m = m == answer ? m : c.next(); !m.empty() && m != answer; m = c.next())
      if (m != pong) got.push_back(m);
    EXPECT_EQ(m, answer);
    return impostor;
  }
  // The round has not run the race: its daemon goes, with the impostor.
  void notExercised(const Process& impostor) {
    kill(impostor, SIGKILL);
    daemon->signal(SIGTERM);
    EXPECT_EQ(daemon->exitCode(), 0) << daemon->err();
    daemon.reset();
  }

  Root root;
  int port = freePort();
  std::unique_ptr<testkit::PidNamespace> pids;
  std::unique_ptr<Daemon> daemon;
  Controller c;

 private:
  std::vector<std::pair<std::string, std::string>> passedOver_;  // why, and the rows
};

}  // namespace e2e
