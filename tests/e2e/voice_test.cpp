// Voice players and recorders of the real daemon, with their TCP peers
// played by the test and their channels on the simulated board: octets
// injected on a recorder's channel and those a player sends (captured by
// the board) are compared with what the peers sent and received.
#include <gtest/gtest.h>
#include <sys/socket.h>
#include <unistd.h>

#include <chrono>
#include <fstream>
#include <string>
#include <vector>

#include "platform/sysroot.h"
#include "tests/e2e/lgcp_controller.h"
#include "tests/tcp_listener.h"

namespace {

using namespace std::chrono_literals;
using e2e::cmd;
using e2e::Lines;
using e2e::ok;
using e2e::refused;
using e2e::signal;
using testkit::Listener;

std::string host(const Listener& l) { return "{ iaddr \"127.0.0.1\", port " + std::to_string(l.port) + " }"; }
std::string stopRecording(int slot, const std::string& cause) {
  return signal(slot, "ioctl : stopRecording : " + cause);
}
std::string abort0(int slot) { return signal(slot, "abort : 0"); }

// A connection made by the daemon to the listener (invalid when none came).
Fd accepted(Listener& l) {
  Fd peer;
  e2e::waitFor([&] { return (peer = l.accept()).valid(); });
  return peer;
}

// Reads from a blocking-free socket until n octets came (or the deadline).
std::string receive(const Fd& peer, std::size_t n) {
  std::string got;
  e2e::waitFor([&] {
    char buf[4096];
    for (ssize_t r; (r = ::recv(peer.get(), buf, sizeof buf, MSG_DONTWAIT)) > 0;)
      got.append(buf, static_cast<std::size_t>(r));
    return got.size() >= n;
  });
  return got;
}

class VoiceSlots : public e2e::ControllerTest {
 protected:
  // The trunk slot 1 (TDM channel 37).
  void trunk() { ASSERT_EQ(c.exchange(cmd(1, 1, "create : trunk : { trunk 1, timeslot 5 }")).size(), 3u); }
  // What the board captured of a channel's sending, in a file under the root.
  std::string captured(const std::string& name) const { return e2e::readFile(root.dir() + "/" + name); }
  void phrase(const std::string& name, const std::string& octets) {
    root.make_parent(std::string(sysroot::voice_dir) + name);
    std::ofstream(root.path(std::string(sysroot::voice_dir) + name), std::ios::binary) << octets;
  }
};

TEST_F(VoiceSlots, ARecorderSendsTheChannelsOctetsUnchangedUntilItsPeerCloses) {
  start();
  Listener l;
  trunk();
  EXPECT_EQ(c.exchange(cmd(2, 3, "create : voice : record : " + host(l))),
            (Lines{ok(2, 3), signal(3, "receiver : active : 1024")}));
  EXPECT_EQ(c.exchange(cmd(3, 1, "connect : 3")), Lines{ok(3, 1)});
  Fd peer = accepted(l);
  ASSERT_TRUE(peer.valid()) << daemon->err();
  e2e::Bytes octets;
  for (int i = 0; i < 2000; ++i) octets.push_back(static_cast<unsigned char>(i * 13 + i / 256));
  ASSERT_EQ(e2e::simboardctl(root.dir(), "mcc inject 1024 " + e2e::hex(octets)).status, 0);
  const std::string got = receive(peer, octets.size());
  EXPECT_EQ(e2e::hex(e2e::Bytes(got.begin(), got.end())), e2e::hex(octets));
  peer.close();
  EXPECT_EQ(c.next(), stopRecording(3, "userRequest"));
  EXPECT_EQ(c.until(), Lines{});
}

// The one real wait of these tests: the daemon's connect is never
// answered (the listener's queue is full) and gives up after 5 s.
TEST_F(VoiceSlots, ARecorderWhosePeerCannotBeReachedStopsAfterFiveSeconds) {
  start();
  Listener l(0);
  const std::vector<Fd> queue = testkit::fillBacklog(l);
  ASSERT_FALSE(queue.empty()) << "the listener's queue never filled";
  trunk();
  ASSERT_EQ(c.exchange(cmd(2, 3, "create : voice : record : " + host(l))).size(), 2u);
  const auto connected = std::chrono::steady_clock::now();
  EXPECT_EQ(c.exchange(cmd(3, 1, "connect : 3")), Lines{ok(3, 1)});
  EXPECT_EQ(c.next(15s), stopRecording(3, "connectionFail"));
  const auto waited = std::chrono::steady_clock::now() - connected;
  EXPECT_GE(waited, 4900ms);
  EXPECT_LE(waited, 15s);
}

TEST_F(VoiceSlots, ANetworkPlayerSendsItsIdThenPlaysItsPeerOnOneConnection) {
  start();
  Listener l;
  board("mcc capture 1024 played.raw");
  trunk();
  ASSERT_EQ(c.exchange(cmd(2, 2, "create : voice : player : network : { host " + host(l) + ", id 305419896 }")),
            Lines{ok(2, 2)});
  c.send(cmd(3, 2, "connect : 1"));
  EXPECT_EQ(c.take(2), (Lines{signal(2, "transmitter : active : 1024"), ok(3, 2)}));
  Fd peer = accepted(l);
  ASSERT_TRUE(peer.valid()) << daemon->err();
  const std::string id = receive(peer, 4);
  EXPECT_EQ(e2e::hex(e2e::Bytes(id.begin(), id.end())), "12 34 56 78");
  EXPECT_EQ(c.next(), signal(2, "ioctl : startPlaying : NULL"));
  std::string voice;
  for (int i = 0; i < 400; ++i) voice += static_cast<char>(0xD5 ^ i);
  ASSERT_EQ(::write(peer.get(), voice.data(), voice.size()), static_cast<ssize_t>(voice.size()));
  EXPECT_TRUE(e2e::waitFor([&] { return captured("played.raw").size() >= voice.size(); }));
  EXPECT_TRUE(captured("played.raw") == voice) << captured("played.raw").size();
  EXPECT_EQ(board("matrix 37"), "37 <- 1024\n");

  // Connected again: still the one connection.
  EXPECT_EQ(c.exchange(cmd(4, 1, "disconnect : NULL")), Lines{ok(4, 1)});
  EXPECT_EQ(c.exchange(cmd(5, 2, "connect : 1")), Lines{ok(5, 2)});
  EXPECT_FALSE(l.accept().valid());

  peer.close();
  EXPECT_EQ(c.take(2), (Lines{signal(2, "transmitter : inactive : NULL"), abort0(2)}));
  EXPECT_EQ(c.until(), Lines{});
}

TEST_F(VoiceSlots, AFilePlayerSkipsWhatItCannotOpenAndRefusesNamesOutsideItsDirectory) {
  start();
  phrase("one", std::string(300, '\x11'));
  phrase("three", std::string(200, '\x33'));
  std::ofstream(root.path(std::string(sysroot::voice_dir) + "../x"), std::ios::binary) << "not a phrase";
  board("mcc capture 1024 played.raw");
  trunk();
  ASSERT_EQ(
      c.exchange(cmd(2, 2, "create : voice : player : file : { name { \"one\", \"two\", \"three\" }, repeat 1 }")),
      Lines{ok(2, 2)});
  c.send(cmd(3, 2, "connect : 1"));
  EXPECT_EQ(c.take(4), (Lines{signal(2, "transmitter : active : 1024"), ok(3, 2),
                              signal(2, "transmitter : inactive : NULL"), abort0(2)}));
  EXPECT_TRUE(e2e::waitFor([&] { return captured("played.raw").size() >= 500; }));
  EXPECT_EQ(captured("played.raw"), std::string(300, '\x11') + std::string(200, '\x33'));

  // Nothing playable: the connection is refused and one abort follows.
  ASSERT_EQ(c.exchange(cmd(4, 4, "create : voice : player : file : { name { \"two\", \"../x\" }, repeat 1 }")),
            Lines{ok(4, 4)});
  c.send(cmd(5, 4, "connect : 1"));
  EXPECT_EQ(c.take(2), (Lines{refused(5, 4, "connectFail"), abort0(4)}));
  EXPECT_EQ(c.until(), Lines{});
  EXPECT_NE(daemon->err().find("phrase \"../x\" refused"), std::string::npos) << daemon->err();
}

}  // namespace
