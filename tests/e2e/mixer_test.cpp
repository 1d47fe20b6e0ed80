// Mixer slots on the real korvend-sim, driven as an operator would: lgcpctl
// as the controller (its messages fed one by one on its standard input),
// simboardctl to read the simulated mixer's sums and to make a device
// disappear.
#include <fcntl.h>
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <memory>
#include <sstream>
#include <string>
#include <vector>

#include "tests/e2e/daemon_harness.h"

namespace mixer_test {  // named: see "Unity builds" in tests/README.md

using Lines = std::vector<std::string>;

std::string ok(int seq, int slot) {
  return "{ seq " + std::to_string(seq) + ", slot " + std::to_string(slot) + ", pdu response : success : NULL }";
}
std::string refused(int seq, int slot) {
  return "{ seq " + std::to_string(seq) + ", slot " + std::to_string(slot) +
         ", pdu response : error : insufficientResources }";
}
std::string cmd(int seq, int slot, const std::string& body) {
  return "{ seq " + std::to_string(seq) + ", slot " + std::to_string(slot) + ", pdu command : " + body + " }";
}
std::string query(int seq) { return "{ seq " + std::to_string(seq) + ", pdu command : query : NULL }"; }
std::string abort(int slot) { return "{ slot " + std::to_string(slot) + ", pdu signal : abort : 0 }"; }
// A device as the report gives it, with the board's default counts.
std::string device(int unit) {
  return "{ unit " + std::to_string(unit) +
         ", tdm_inputs 32, tdm_outputs 32, mixer_inputs 64, dpu_per_mixer 770, dpu_per_ec 17, dpu_per_lms 24 }";
}
// The resource report by its mixer list alone (the other factories' counts
// are theirs to test).
std::string report(const std::string& mixers) { return "query with mixer " + mixers; }
std::string reportOf(const std::string& message) {
  if (message.rfind("{ pdu signal : query : ", 0) != 0) return message;
  const std::size_t from = message.find("mixer {"), to = message.find(", mux TRUE");
  if (from == std::string::npos || to == std::string::npos) return message;
  return "query with " + message.substr(from, to - from);
}

// One lgcpctl run reading messages from a pipe, its output in a file.
class Lgcpctl {
 public:
  Lgcpctl(const std::string& dir, int port) : fifo_(dir + "/lgcpctl.in"), out_(dir + "/lgcpctl.out") {
    ::mkfifo(fifo_.c_str(), 0600);
    // Read-write, so that opening does not wait for the reader.
    in_ = ::open(fifo_.c_str(), O_RDWR | O_CLOEXEC);
    pid_ = testproc::Spawn(
        {"sh", "-c", "exec " + e2e::lgcpctlCommand("--port " + std::to_string(port) + " --wait 2000") + " < " + fifo_},
        {}, out_, out_ + ".err");
  }
  ~Lgcpctl() {
    ::close(in_);
    if (pid_ > 0 && testproc::WaitExit(pid_) == -1) {
      ::kill(pid_, SIGKILL);
      testproc::WaitExit(pid_);
    }
  }

  // Sends a message, then a ping: what came back before the ping's answer
  // (the trunks' and power reports passed over).
  Lines exchange(const std::string& message) {
    const std::string ping = "{ seq " + std::to_string(60000 + pings_) + ", pdu command : ping : NULL }";
    const std::string pong = "{ seq " + std::to_string(60000 + pings_++) + ", pdu response : success : NULL }";
    const std::string text = message + "\n" + ping + "\n";
    EXPECT_EQ(::write(in_, text.data(), text.size()), static_cast<ssize_t>(text.size()));
    Lines got;
    const bool answered = e2e::waitFor([&] {
      got = received();
      return !got.empty() && got.back() == pong;
    });
    EXPECT_TRUE(answered) << message << "\n" << e2e::readFile(out_) << e2e::readFile(out_ + ".err");
    seen_ += got.size();
    if (answered) got.pop_back();
    std::transform(got.begin(), got.end(), got.begin(), reportOf);
    return got;
  }

 private:
  // The messages received since the last exchange.
  Lines received() const {
    std::istringstream text(e2e::readFile(out_));
    Lines all;
    for (std::string line; std::getline(text, line);) {
      const std::size_t at = line.find(" < ");
      if (at == std::string::npos) continue;
      const std::string m = line.substr(at + 3);
      if (m.rfind("{ pdu signal : trunkStatus", 0) != 0 && m.rfind("{ pdu signal : power", 0) != 0) all.push_back(m);
    }
    return Lines(all.begin() + static_cast<std::ptrdiff_t>(std::min(seen_, all.size())), all.end());
  }

  std::string fifo_, out_;
  int in_ = -1;
  pid_t pid_ = -1;
  std::size_t seen_ = 0;
  int pings_ = 0;
};

class MixerEndToEnd : public ::testing::Test {
 protected:
  MixerEndToEnd()
      : daemon(e2e::simBinary(), root.dir(), {"--port", std::to_string(port)}, root.dir()) {
    e2e::waitFor([&] { return !daemon.out().empty(); });
    controller = std::make_unique<Lgcpctl>(root.dir(), port);
  }
  ~MixerEndToEnd() override {
    controller.reset();
    daemon.signal(SIGTERM);
    EXPECT_EQ(daemon.exitCode(), 0) << daemon.err();
  }
  std::string board(const std::string& request) const { return e2e::simboardctl(root.dir(), request).out; }
  std::string sum(int dev, int channel) const {
    return board("mixer sum " + std::to_string(dev) + " " + std::to_string(channel));
  }
  Lines exchange(const std::string& message) { return controller->exchange(message); }

  e2e::Root root;
  int port = e2e::freePort();
  e2e::Daemon daemon;
  std::unique_ptr<Lgcpctl> controller;
};

TEST_F(MixerEndToEnd, DevicesAreLearntAtTheQueryAndSlotsSetAndJoinSums) {
  const std::string out3 =
      "create : mixerOut : { unit 0, channel tdm : 3, inputs { { channel tdm : 1, gain 16384 } } }";
  EXPECT_EQ(exchange(cmd(1, 1, out3)), Lines{refused(1, 1)});
  EXPECT_EQ(exchange(query(2)),
            (Lines{"{ seq 2, pdu response : success : NULL }", report("{ " + device(0) + " }")}));
  EXPECT_EQ(exchange(cmd(3, 1, out3)), Lines{ok(3, 1)});
  EXPECT_EQ(sum(0, 3), "0/3: {1: 16384}\n");
  EXPECT_EQ(exchange(cmd(4, 2, "create : mixerIn : { unit 0, channel tdm : 1, summator tdm : 3 }")), Lines{ok(4, 2)});
  EXPECT_EQ(sum(0, 3), "0/3: {1: 32767}\n");
  EXPECT_EQ(exchange(cmd(5, 2, "destroy : NULL")), Lines{ok(5, 2)});
  EXPECT_EQ(sum(0, 3), "0/3: {}\n");
  // Channels and weights at the edges of their ranges.
  EXPECT_EQ(exchange(cmd(6, 3,
                         "create : mixerOut : { unit 0, channel tdm : 31, inputs { { channel tdm : 0, gain 0 }, "
                         "{ channel tdm : 31, gain 32767 } } }")),
            Lines{ok(6, 3)});
  EXPECT_EQ(sum(0, 31), "0/31: {0: 0, 31: 32767}\n");
  EXPECT_EQ(exchange(cmd(7, 4, "create : mixerIn : { unit 0, channel tdm : 32 }")), Lines{refused(7, 4)});
  EXPECT_EQ(exchange(cmd(8, 4, "create : mixerIn : { unit 1, channel tdm : 0 }")), Lines{refused(8, 4)});
  // A refused output: the inputs added before the refusal stay summed.
  EXPECT_EQ(exchange(cmd(9, 5,
                         "create : mixerOut : { unit 0, channel tdm : 5, inputs { { channel tdm : 1, gain 100 }, "
                         "{ channel tdm : 2, gain 32768 }, { channel tdm : 4, gain 5 } } }")),
            Lines{refused(9, 5)});
  EXPECT_EQ(sum(0, 5), "0/5: {1: 100}\n");
  EXPECT_NE(daemon.err().find("mixer [0]: MIX_RX_ADD fail : Invalid argument\n"), std::string::npos) << daemon.err();
}

TEST_F(MixerEndToEnd, ADeviceThatDisappearsAbortsItsSlotsWhichAreThenDestroyedCleanly) {
  board("mixer add 1 32 64");
  ASSERT_EQ(exchange(query(1)).size(), 2u);
  ASSERT_EQ(exchange(cmd(2, 1, "create : mixerOut : { unit 0, channel tdm : 3, inputs { } }")), Lines{ok(2, 1)});
  ASSERT_EQ(exchange(cmd(3, 2, "create : mixerIn : { unit 0, channel tdm : 1, summator tdm : 3 }")), Lines{ok(3, 2)});
  ASSERT_EQ(exchange(cmd(4, 3, "create : trunk : { trunk 1, timeslot 5 }")).size(), 3u);
  ASSERT_EQ(exchange(cmd(5, 4, "create : mixerIn : { unit 1, channel tdm : 1 }")), Lines{ok(5, 4)});
  ASSERT_EQ(exchange(cmd(6, 3, "connect : 2")),
            (Lines{"{ slot 2, pdu signal : receiver : active : 6145 }", ok(6, 3)}));
  EXPECT_EQ(board("matrix 6145"), "6145 <- 37\n");
  ASSERT_EQ(exchange(cmd(7, 1, "connect : 3")),
            (Lines{"{ slot 1, pdu signal : transmitter : active : 6147 }", ok(7, 1)}));
  EXPECT_EQ(board("matrix 37"), "37 <- 6147\n");
  board("mixer vanish 0");
  EXPECT_EQ(exchange(query(8)), (Lines{"{ seq 8, pdu response : success : NULL }", abort(1), abort(2),
                                       report("{ " + device(1) + " }")}));
  for (int slot : {1, 2}) EXPECT_EQ(exchange(cmd(9, slot, "destroy : NULL")), Lines{ok(9, slot)});
  EXPECT_EQ(board("matrix 6145").rfind("6145 undriven (disabled", 0), 0u) << board("matrix 6145");
  EXPECT_EQ(exchange(query(10)),
            (Lines{"{ seq 10, pdu response : success : NULL }", report("{ " + device(1) + " }")}));
  EXPECT_EQ(daemon.err().find("MIX_RX"), std::string::npos) << daemon.err();
}

}  // namespace mixer_test
