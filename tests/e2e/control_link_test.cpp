// The controller link of the real korvend-sim, driven only over TCP with
// fixed octets: every request and every expected reply below is written
// out in hex, independently of the daemon's coder. Where the loopback can
// be captured, tshark, an independent TPKT decoder, reads the session back
// into exactly the frames sent and answered.
#include <gtest/gtest.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cctype>
#include <chrono>
#include <filesystem>
#include <string>

#include "tests/e2e/daemon_harness.h"
#include "tests/e2e/raw_client.h"

namespace {

using namespace std::chrono_literals;
using e2e::hex;
using e2e::RawClient;

// dumpcap on the loopback, for one TCP port.
class LoopbackCapture {
 public:
  LoopbackCapture(const std::string& dir, int port)
      : file_(dir + "/session.pcapng"), err_(dir + "/dumpcap.err"), port_(port), probePort_(e2e::freePort()) {
    if (::geteuid() != 0) {
      whyNot_ = testkit::refused("capturing on the loopback needs root");
      return;
    }
    if (e2e::run("command -v dumpcap && command -v tshark").status != 0) {
      whyNot_ = testkit::missing("dumpcap or tshark");
      return;
    }
    const std::string filter = "tcp port " + std::to_string(port) + " or udp port " + std::to_string(probePort_);
    pid_ = testproc::Spawn({"dumpcap", "-i", "lo", "-f", filter, "-w", file_}, {}, dir + "/dumpcap.out", err_);
    const bool opened = e2e::waitFor(
        [&] { return (e2e::readFile(err_).find("Capturing on") != std::string::npos && size() > 0) || exited(); },
        10s);
    if (!opened || size() == 0 || !grows(size()))
      whyNot_ = testkit::refused("dumpcap could not capture: " + e2e::readFile(err_));
  }
  ~LoopbackCapture() {
    if (pid_ > 0 && !exited()) {
      ::kill(pid_, SIGKILL);
      ::waitpid(pid_, nullptr, 0);
    }
    ::close(probe_);
  }
  const std::string& whyNot() const { return whyNot_; }

  // "srcport<TAB>length<TAB>payload" for every TPKT frame captured so far
  // but the signals the daemon sends of its own accord (the trunks' status).
  std::string frames() {
    EXPECT_TRUE(grows(size()));
    // Not if it has ended and been waited for: its pid is anyone's then.
    if (!exited()) {
      ::kill(pid_, SIGINT);
      ::waitpid(pid_, nullptr, 0);
      pid_ = -1;
    }
    const std::string p = std::to_string(port_);
    const std::string all =
        e2e::run("tshark -r " + file_ + " -d tcp.port==" + p + ",tpkt --disable-protocol cotp" +
                 " -T fields -e tcp.srcport -e tpkt.length -e data.data 2>/dev/null | awk -F'\\t' '$2 != \"\"'")
            .out;
    std::string kept;
    std::size_t at = 0;
    for (std::size_t end; (end = all.find('\n', at)) != std::string::npos; at = end + 1) {
      const std::string line = all.substr(at, end + 1 - at);
      if (line.rfind(p + "\t", 0) == 0 && e2e::isSignal(hex(line.substr(line.rfind('\t') + 1)))) continue;
      kept += line;
    }
    return kept;
  }

 private:
  std::uintmax_t size() const {
    std::error_code ec;
    const std::uintmax_t n = std::filesystem::file_size(file_, ec);
    return ec ? 0 : n;
  }
  bool exited() {
    if (pid_ > 0 && ::waitpid(pid_, nullptr, WNOHANG) == pid_) pid_ = -1;
    return pid_ <= 0;
  }
  // dumpcap reports that it captures before its filter is in place, and
  // writes packets out in blocks, a block once a while has passed: a
  // datagram sent until the file grows proves that everything sent before
  // it is in the file.
  bool grows(std::uintmax_t from) {
    const sockaddr_in to = testkit::loopback(probePort_);
    return e2e::waitFor(
               [&] {
                 if (exited() || (from != 0 && size() > from)) return true;
                 ::sendto(probe_, "probe", 5, 0, reinterpret_cast<const sockaddr*>(&to), sizeof to);
                 return false;
               },
               15s) &&
           !exited();
  }

  std::string file_, err_, whyNot_;
  int port_, probePort_;
  int probe_ = ::socket(AF_INET, SOCK_DGRAM | SOCK_CLOEXEC, 0);
  pid_t pid_ = -1;
};

// One frame as tshark's line shows it.
std::string frameLine(int port, const std::string& payload) {
  std::string compact;
  for (char ch : payload)
    if (ch != ' ') compact += static_cast<char>(std::tolower(static_cast<unsigned char>(ch)));
  return std::to_string(port) + "\t" + std::to_string(hex(payload).size() + 4) + "\t" + compact + "\n";
}

class ControlLink : public ::testing::Test {
 protected:
  ControlLink()
      : port(e2e::freePort()), daemon(e2e::simBinary(), root.dir(), {"--port", std::to_string(port)}, root.dir()) {}
  ~ControlLink() override {
    daemon.signal(SIGTERM);
    daemon.wait();
  }
  // Connects and proves the connection is served.
  void connectServed(RawClient& c) {
    ASSERT_TRUE(e2e::waitFor([&] {
      return c.connect(port) && c.sendPayload(hex("80 01 63 18")) && c.replyHex(2s) == "80 01 63 40";
    })) << daemon.err();
  }
  // Connects, retrying while the daemon starts (or is still closing the
  // previous controller's connection).
  void connect(RawClient& c) {
    ASSERT_TRUE(e2e::waitFor([&] { return c.connect(port); })) << daemon.err();
  }
  std::string prefix(const RawClient& c) const { return "ctrl [127.0.0.1:" + std::to_string(c.localPort()) + "]: "; }

  e2e::Root root;
  int port;
  e2e::Daemon daemon;
};

TEST_F(ControlLink, EnvelopeRulesOctetForOctetAndTsharkReadsTheSessionBack) {
  LoopbackCapture capture(root.dir(), port);
  RawClient c;
  connect(c);
  const int me = c.localPort();
  const struct {
    const char* what;
    const char* request;
    const char* reply;
  } cases[] = {
      {"ping, seq 7", "80 01 07 18", "80 01 07 40"},
      {"ping, no seq: answered without seq", "06 00", "10"},
      {"ping, seq 3, slot 5: both echoed", "C0 01 03 00 05 18", "C0 01 03 00 05 40"},
      {"ping, slot 1024: invalidSlot, without slot", "40 04 00 18", "18 80"},
      {"a response from the controller: unexpectedMsgType", "80 01 09 40", "80 01 09 64"},
      {"a signal from the controller (activated): unexpectedMsgType", "80 01 0A 85", "80 01 0A 64"},
      {"query with slot 0: claimed by nobody", "C0 01 02 00 00 00", "C0 01 02 00 00 64"},
  };
  std::string expected;
  for (const auto& x : cases) {
    SCOPED_TRACE(x.what);
    c.sendPayload(hex(x.request));
    EXPECT_EQ(c.replyHex(), x.reply);
    expected += frameLine(me, x.request) + frameLine(port, x.reply);
  }
  // A frame written one octet at a time: tshark reassembles it.
  for (unsigned char b : e2e::tpkt(hex("80 01 0B 18"))) c.write({b});
  EXPECT_EQ(c.replyHex(), "80 01 0B 40");
  expected += frameLine(me, "80 01 0B 18") + frameLine(port, "80 01 0B 40");
  // Nothing else came but the trunks' status reports (signal trunkStatus,
  // no seq, no slot) and the power state on connecting (signal power both).
  for (const e2e::Bytes& s : c.signals()) EXPECT_TRUE(s.at(0) == 0x22 || hex(s) == "24 70") << hex(s);

  if (!capture.whyNot().empty()) GTEST_SKIP() << capture.whyNot() << " (the octets were checked, not captured)";
  EXPECT_EQ(capture.frames(), expected);
}

TEST_F(ControlLink, GarbageIsLoggedUnansweredAndTwoFramesInOneWriteAreBothServed) {
  RawClient c;
  connectServed(c);
  c.write(hex("03 00 00 05 FF"));
  e2e::Bytes two = e2e::tpkt(hex("80 01 02 18"));
  const e2e::Bytes second = e2e::tpkt(hex("80 01 03 18"));
  two.insert(two.end(), second.begin(), second.end());
  c.write(two);
  // The first frames back: nothing for the garbage.
  EXPECT_EQ(c.replyHex(), "80 01 02 40");
  EXPECT_EQ(c.replyHex(), "80 01 03 40");
  const std::string line = prefix(c) + "receive fail: decode error!\n msg: FF \n";
  EXPECT_TRUE(e2e::waitFor([&] { return daemon.err().find(line) != std::string::npos; })) << daemon.err();
}

TEST_F(ControlLink, StalledPartialFrameIsDroppedAfterThreeSeconds) {
  RawClient c;
  connectServed(c);
  c.write(hex("03 00 00 10 01 02 03 04 05"));
  ASSERT_TRUE(e2e::waitFor([&] { return daemon.err().find(" TPKT packet timeout.\n") != std::string::npos; }, 10s))
      << daemon.err();
  c.sendPayload(hex("80 01 04 18"));
  EXPECT_EQ(c.replyHex(), "80 01 04 40");
}

TEST_F(ControlLink, SecondControllerIsRefusedWhileTheFirstIsUpAndTakenAfterItLeaves) {
  RawClient first, second;
  connectServed(first);
  connect(second);
  EXPECT_TRUE(second.awaitClose(5s));
  EXPECT_TRUE(e2e::waitFor([&] {
    return daemon.err().find("refuse connection from 127.0.0.1:" + std::to_string(second.localPort()) + "\n") !=
           std::string::npos;
  })) << daemon.err();
  first.sendPayload(hex("80 01 05 18"));
  EXPECT_EQ(first.replyHex(), "80 01 05 40");
  first.close();
  connectServed(second);
  EXPECT_NE(daemon.out().find("new connection from 127.0.0.1:" + std::to_string(second.localPort()) + "\n"),
            std::string::npos)
      << daemon.out();
}

// The heartbeat is shortened on this board to 2000 ms (it is 120000 ms, on
// the test clock, in the unit tests), so that the test need not wait two
// minutes for it.
TEST_F(ControlLink, OneCommandThenSilenceEndsInHeartbeatTimeoutAndAClosedConnection) {
  ASSERT_TRUE(e2e::waitFor([&] { return e2e::simboardctl(root.dir(), "heartbeat 2000").status == 0; }));
  RawClient c;
  connectServed(c);
  const auto start = std::chrono::steady_clock::now();
  EXPECT_TRUE(c.awaitClose(10s));
  EXPECT_GE(std::chrono::steady_clock::now() - start, 1s);
  EXPECT_EQ(e2e::count(daemon.err(), "heartbeat timeout!!!\n"), 1u) << daemon.err();
  EXPECT_NE(daemon.err().find("control connection 127.0.0.1:" + std::to_string(c.localPort()) + " closed.\n"),
            std::string::npos);
  RawClient next;
  connectServed(next);
}

}  // namespace
