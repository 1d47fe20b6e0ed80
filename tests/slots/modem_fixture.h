#pragma once
// Modem slots on the simulated board with two modems, their factory's
// authentication server on a port of the system's choosing, the stand-in
// for the PPP daemon and the fax programs, and dial-in plug-ins played by
// the test. Children are real processes: waits for them are bounded real
// waits that run the loop; the loop's timers run on the test clock.
#include <signal.h>

#include <algorithm>
#include <chrono>
#include <map>
#include <memory>
#include <string>
#include <vector>

#include "runtime/child_wait.h"
#include "runtime/ipc_signal.h"
#include "slots/modem_factory.h"
#include "slots/modem_slot.h"
#include "tests/slots/slots_fixture.h"
#include "tests/standins/plugin_records.h"
#include "tests/standins/standin.h"

namespace modemtest {

using namespace std::chrono_literals;
using Lines = std::vector<std::string>;
using slotstest::cmd;
using slotstest::contains;
using slotstest::create;
using slotstest::success;
using namespace plugin;

// A dial-in plug-in: a TCP client whose waits are passes of the loop.
class Plugin : public testkit::Client {
 public:
  Plugin() : Client([](int, int) { multiplexer.run_once(10); }) {}
  // What the daemon sent, in hex, once n octets have come (or the deadline).
  std::string received(std::size_t n) {
    testkit::until([&] { return !poll() || pending().size() >= n; }, 10s, [] { multiplexer.run_once(10); });
    std::string text;
    char pair[4];
    for (unsigned char b : pending()) {
      std::snprintf(pair, sizeof pair, text.empty() ? "%02X" : " %02X", b);
      text += pair;
    }
    return text;
  }
  // Nothing has come within a few passes of the loop.
  bool silent() {
    linktest::settle();
    poll();
    return pending().empty();
  }
};

inline std::string activate(int seq, int slot) { return cmd(seq, slot, activation()); }

class ModemTest : public slotstest::SlotsTest {
 protected:
  void SetUp() override {
    slotstest::SlotsTest::SetUp();
    ChildWait::Activate();  // children are watched only while a test runs
    command("mctl modems 2");
    factory = std::make_unique<ModemFactory>(0);
    authPort = factory->listening_port();
    ASSERT_NE(authPort, 0);
    // The plug-ins are the test's own sockets: which child holds one is
    // what the test says.
    owners.clear();
    factory->set_peer_check([this](int fd, const std::vector<pid_t>& candidates) -> pid_t {
      sockaddr_in peer{};
      socklen_t length = sizeof peer;
      if (::getpeername(fd, reinterpret_cast<sockaddr*>(&peer), &length) != 0) return -1;
      const auto owner = owners.find(ntohs(peer.sin_port));
      if (owner == owners.end()) return -1;
      return std::find(candidates.begin(), candidates.end(), owner->second) != candidates.end() ? owner->second : -1;
    });
    ASSERT_TRUE(standin::install(sysroot::pppd, ""));
    board().clear_journal();
    clog_.take();
    cerr_.take();
  }
  void TearDown() override {
    slotstest::SlotsTest::TearDown();
    EXPECT_TRUE(factory->modem_slots().empty());
    factory.reset();
    // The next test, whatever its fixture, starts with no watcher of children.
    IPC::Signal::system(SIGCHLD);
    ChildWait::Cleanup();
    ChildWait::Initialize();
  }

  // The next message to the controller within a real deadline; "" if none.
  std::string next(std::chrono::milliseconds deadline = 10s) {
    if (!early.empty()) {
      const std::string first = early.front();
      early.erase(early.begin());
      return first;
    }
    std::vector<unsigned char> payload;
    return controller.frame(payload, deadline) ? linktest::decode(payload) : std::string();
  }
  // The answer among what an exchange brought. A program that starts fast
  // can speak or end while the command's own messages are still drained:
  // what came after the answer is kept for next(), in order.
  std::string answered(const Lines& got) {
    for (std::size_t i = 0; i < got.size(); ++i) {
      if (!contains(got[i], "pdu response")) continue;
      early.insert(early.end(), got.begin() + static_cast<long>(i) + 1, got.end());
      return got[i];
    }
    return "(no answer)";
  }
  // Runs the loop until cond holds, within a real deadline.
  static bool await(const std::function<bool()>& cond, std::chrono::milliseconds deadline = 10s) {
    return testkit::until(cond, deadline, [] { multiplexer.run_once(10); });
  }
  // Waits until the stand-in at a program's path has logged a line.
  static bool logged(const char* program, const std::string& line) {
    return await([&] { return contains(standin::log(program), line + "\n"); });
  }
  // A trunk slot at 1, a modem slot with the parameters at n, connected.
  Lines connectModem(int n, const std::string& params) {
    EXPECT_EQ(exchange(create(1, 1, "trunk : { trunk 1, timeslot 5 }")).size(), 3u);
    EXPECT_EQ(exchange(create(2, n, "modem : " + params)), Lines{success(2, n)});
    return exchange(cmd(3, 1, "connect : " + std::to_string(n)));
  }
  // Destroys a slot whose child ends on SIGHUP: the answer comes once it has.
  void destroyRunning(int seq, int n) {
    controller.send(linktest::tpkt(linktest::encode(cmd(seq, n, "destroy : NULL"))));
    EXPECT_EQ(next(), success(seq, n));
  }
  // The journal's lines of the modem driver, without their records.
  static Lines mctlRequests() {
    Lines out;
    for (const std::string& line : journal()) {
      if (line.find(" /dev/mctl ") == std::string::npos) continue;
      const std::size_t rec = line.find(" rec=");
      out.push_back(rec == std::string::npos ? line : line.substr(0, rec) + line.substr(line.find(" -> ")));
    }
    return out;
  }

  // Takes the plug-in's socket as one the process holds.
  void own(const Plugin& plugin, pid_t pid) { owners[plugin.localPort()] = pid; }

  std::unique_ptr<ModemFactory> factory;
  Lines early;  // taken by a drain after an answer, not yet read by next()
  int authPort = 0;
  std::map<int, pid_t> owners;  // a plug-in's port -> the process said to hold it
};

}  // namespace modemtest
