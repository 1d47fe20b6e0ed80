// Voice players and recorders driven by a controller on the simulated
// board: the channels they take, their connections to TCP peers (the loop
// clock is the test clock, so the 5 s connect limit is exact), the octets
// they move and the signals that tell their end.
#include "slots/voice_slot.h"

#include <fcntl.h>
#include <gtest/gtest.h>
#include <sys/socket.h>
#include <unistd.h>

#include <cstdio>
#include <fstream>
#include <functional>
#include <sstream>
#include <string>
#include <vector>

#include "platform/mcc_records.h"
#include "slots/voice_factory.h"
#include "tests/slots/slots_fixture.h"
#include "tests/tcp_listener.h"

namespace {

using namespace slotstest;
using Lines = std::vector<std::string>;
using testkit::Listener;

std::string ioctl(int slot, const std::string& response) {
  return "{ slot " + std::to_string(slot) + ", pdu signal : ioctl : " + response + " }";
}
std::string abort0(int slot) { return "{ slot " + std::to_string(slot) + ", pdu signal : abort : 0 }"; }
std::string recorder(const std::string& address) {
  const std::size_t colon = address.find(':');
  return "voice : record : { iaddr \"" + address.substr(0, colon) + "\", port " + address.substr(colon + 1) + " }";
}
std::string networkPlayer(const std::string& address, unsigned id) {
  const std::size_t colon = address.find(':');
  return "voice : player : network : { host { iaddr \"" + address.substr(0, colon) + "\", port " +
         address.substr(colon + 1) + " }, id " + std::to_string(id) + " }";
}
std::string filePlayer(const std::vector<std::string>& names, int repeat) {
  std::string list;
  for (const std::string& n : names) list += (list.empty() ? "\"" : ", \"") + n + "\"";
  return "voice : player : file : { name { " + list + " }, repeat " + std::to_string(repeat) + " }";
}

class Voice : public SlotsTest {
 protected:
  void SetUp() override {
    VoiceFactory::instance();  // built by the process entry in the daemon
    SlotsTest::SetUp();
  }
  void TearDown() override {
    SlotsTest::TearDown();
    EXPECT_TRUE(VoiceFactory::instance().players().empty());
    EXPECT_TRUE(VoiceFactory::instance().recorders().empty());
  }
  // The next message from the daemon, "" when none comes within a while.
  std::string next() {
    std::vector<unsigned char> payload;
    return controller.frame(payload, std::chrono::seconds(3)) ? linktest::decode(payload) : std::string();
  }
  // A connection to the listener, made by the daemon.
  static Fd accepted(Listener& l) {
    Fd peer;
    pump([&] { return (peer = l.accept()).valid(); });
    return peer;
  }
  // The trunk slot 1 on trunk 1 timeslot 5 (TDM channel 37).
  void trunk() { ASSERT_EQ(exchange(create(1, 1, "trunk : { trunk 1, timeslot 5 }")).size(), 3u); }
  // Runs the loop with the clock moving (the channels send at the line
  // rate) until done() holds.
  bool run(const std::function<bool()>& done) {
    for (int i = 0; i < 1000 && !done(); ++i) {
      clock.advance(10);
      settle();
    }
    return done();
  }
  // Every octet the daemon wrote on a controller channel, in order.
  static std::string written(int channel) {
    std::string octets;
    for (const std::string& line : command("mcc written " + std::to_string(channel))) {
      std::istringstream words(line);
      for (unsigned byte; words >> std::hex >> byte;) octets += static_cast<char>(byte);
    }
    return octets;
  }
  void phrase(const std::string& name, const std::string& octets) {
    const std::string path = root_.path(std::string(sysroot::voice_dir) + name);
    root_.make_parent(std::string(sysroot::voice_dir) + name);
    std::ofstream(path, std::ios::binary) << octets;
  }
};

TEST_F(Voice, PlayersWriteAndRecordersReadATransparentChannelOfTheirOwn) {
  EXPECT_EQ(exchange(create(1, 3, recorder("127.0.0.1:4000"))), (Lines{success(1, 3), stream(3, "receiver", 1024)}));
  EXPECT_TRUE(journalHas("open /dev/mcc/ctl rdonly|nonblock -> "));
  EXPECT_TRUE(journalHas(recLine(sysroot::mcc_ctl, MCC_ALLOCATE, mcc::MccAllocate{2, 1024, 0, 5, 0})));
  board().clear_journal();
  // A player announces nothing until a connection needs its output.
  EXPECT_EQ(exchange(create(2, 4, networkPlayer("127.0.0.1:4000", 1))), Lines{success(2, 4)});
  EXPECT_EQ(exchange(create(3, 5, filePlayer({"a"}, 1))), Lines{success(3, 5)});
  EXPECT_TRUE(journalHas("open /dev/mcc/ctl wronly|nonblock -> "));
  EXPECT_TRUE(journalHas(recLine(sysroot::mcc_ctl, MCC_ALLOCATE, mcc::MccAllocate{2, 1024, 0, 0, 5})));
  EXPECT_EQ(at(4)->IGetTransmitChannel(), 1025);
  EXPECT_EQ(at(5)->IGetTransmitChannel(), 1026);
  EXPECT_STREQ(at(3)->GetName(), "recorder");
  EXPECT_STREQ(at(4)->GetName(), "player");
  EXPECT_EQ(VoiceFactory::instance().players().size(), 2u);
  EXPECT_EQ(answer(cmd(4, 4, "destroy : NULL")), success(4, 4));
  EXPECT_EQ(VoiceFactory::instance().players().size(), 1u);
  settle();
  EXPECT_TRUE(journalHas("close /dev/mcc/ctl"));
}

TEST_F(Voice, AChannelTheDriverDoesNotGiveRefusesTheCreateAndKeepsNoDescriptor) {
  command("refuse-open mcc/ctl");
  EXPECT_EQ(answer(create(1, 3, recorder("127.0.0.1:4000"))), error(1, 3, "insufficientResources"));
  EXPECT_TRUE(contains(err(), "fail to open /dev/mcc/ctl device for reading: No such device\n")) << err();
  EXPECT_EQ(answer(create(2, 3, networkPlayer("127.0.0.1:4000", 1))), error(2, 3, "insufficientResources"));
  EXPECT_TRUE(contains(err(), "fail to open /dev/mcc/ctl device for writing: No such device\n")) << err();
  command("refuse-open mcc/ctl off");

  command("fail mcc/ctl 40144D00 ENOSPC 1");
  EXPECT_EQ(answer(create(3, 3, filePlayer({"a"}, 1))), error(3, 3, "insufficientResources"));
  EXPECT_TRUE(contains(err(), "]: MCC_ALLOCATE fail: No space left on device\n")) << err();
  command("fail mcc/ctl 20004D02 EINVAL 1");
  EXPECT_EQ(answer(create(4, 3, recorder("127.0.0.1:4000"))), error(4, 3, "insufficientResources"));
  EXPECT_TRUE(contains(err(), "]: MCC_TIMESLOT request failed.\n")) << err();
  settle();
  const std::vector<std::string> j = journal();
  EXPECT_EQ(std::count(j.begin(), j.end(), "close /dev/mcc/ctl"), 2);
  EXPECT_TRUE(command("mcc").empty());
}

TEST_F(Voice, ARecorderWhosePeerNeverAnswersStopsAfterFiveSeconds) {
  Listener l(0);
  const std::vector<Fd> queue = testkit::fillBacklog(l);
  ASSERT_FALSE(queue.empty()) << "the listener's queue never filled";
  trunk();
  ASSERT_EQ(exchange(create(2, 3, recorder(l.address()))).size(), 2u);
  EXPECT_EQ(exchange(cmd(3, 1, "connect : 3")), Lines{success(3, 1)});
  clock.advance(4999);
  EXPECT_EQ(drain(), Lines{});
  clock.advance(1);
  EXPECT_EQ(drain(), Lines{ioctl(3, "stopRecording : connectionFail")});
  EXPECT_TRUE(contains(log(), "recorder[1024]: connection to " + l.address() + " fail.\n")) << log();
  // A new source tries again.
  EXPECT_EQ(exchange(cmd(4, 3, "disconnect : NULL")), Lines{success(4, 3)});
  EXPECT_EQ(exchange(cmd(5, 1, "connect : 3")), Lines{success(5, 1)});
  clock.advance(5000);
  EXPECT_EQ(drain(), Lines{ioctl(3, "stopRecording : connectionFail")});
}

TEST_F(Voice, ARecorderStopsWithTheCauseOfItsEnd) {
  trunk();
  // Nobody listens: refused at once.
  ASSERT_EQ(exchange(create(2, 3, recorder("127.0.0.1:" + std::to_string(testkit::closedPort())))).size(), 2u);
  EXPECT_EQ(request(cmd(3, 1, "connect : 3")).back(), success(3, 1));
  EXPECT_EQ(next(), ioctl(3, "stopRecording : connectionFail"));
  EXPECT_EQ(answer(cmd(4, 3, "destroy : NULL")), success(4, 3));

  // The peer closes: the recording ends as the user asked.
  Listener l;
  ASSERT_EQ(exchange(create(5, 3, recorder(l.address()))).size(), 2u);
  EXPECT_EQ(exchange(cmd(6, 1, "connect : 3")), Lines{success(6, 1)});
  Fd peer = accepted(l);
  ASSERT_TRUE(peer.valid());
  EXPECT_TRUE(pump([&] { return contains(log(), "recorder[1024]: connected to " + l.address() + ".\n"); }));
  // What the peer sends is no reason to stop.
  ASSERT_EQ(::write(peer.get(), "hello", 5), 5);
  EXPECT_EQ(drain(), Lines{});
  peer.close();
  EXPECT_EQ(next(), ioctl(3, "stopRecording : userRequest"));
  EXPECT_TRUE(contains(log(), "recorder[1024]: connection to " + l.address() + " closed.\n")) << log();

  // The peer resets the connection: aborted.
  EXPECT_EQ(exchange(cmd(7, 3, "disconnect : NULL")), Lines{success(7, 3)});
  EXPECT_EQ(exchange(cmd(8, 1, "connect : 3")), Lines{success(8, 1)});
  peer = accepted(l);
  ASSERT_TRUE(peer.valid());
  const linger reset{1, 0};
  ASSERT_EQ(::setsockopt(peer.get(), SOL_SOCKET, SO_LINGER, &reset, sizeof reset), 0);
  peer.close();
  EXPECT_EQ(next(), ioctl(3, "stopRecording : connectionAborted"));
  EXPECT_TRUE(contains(err(), "recorder[1024]: record aborted\n")) << err();
  EXPECT_EQ(drain(), Lines{});
}

TEST_F(Voice, AFilePlayerPlaysItsPhrasesInOrderRepeatTimesSkippingAMissingOne) {
  phrase("one", std::string(100, 'a'));
  phrase("sub/three", std::string(50, 'c'));
  trunk();
  ASSERT_EQ(exchange(create(2, 2, filePlayer({"one", "missing", "sub/three"}, 2))), Lines{success(2, 2)});
  EXPECT_EQ(request(cmd(3, 2, "connect : 1")), (Lines{stream(2, "transmitter", 1024), success(3, 2)}));
  Lines got;
  EXPECT_TRUE(run([&] {
    for (const std::string& m : drain()) got.push_back(m);
    return !got.empty() && got.back() == abort0(2);
  }));
  EXPECT_EQ(got, (Lines{inactive(2, "transmitter"), abort0(2)}));
  // The channel sends at the line rate what the player handed it.
  const std::string round = std::string(100, 'a') + std::string(50, 'c');
  EXPECT_TRUE(run([&] { return written(1024).size() >= 2 * round.size(); }));
  EXPECT_EQ(written(1024), round + round);
  EXPECT_EQ(at(1)->source(), nullptr);
  EXPECT_EQ(drain(), Lines{});
}

TEST_F(Voice, AFilePlayerWithoutARepeatCountPlaysUntilItIsDestroyed) {
  phrase("one", "0123456789");
  trunk();
  ASSERT_EQ(exchange(create(2, 2, filePlayer({"one"}, 0))), Lines{success(2, 2)});
  EXPECT_EQ(request(cmd(3, 2, "connect : 1")), (Lines{stream(2, "transmitter", 1024), success(3, 2)}));
  EXPECT_TRUE(run([&] { return written(1024).size() >= 50; }));
  EXPECT_EQ(written(1024).substr(0, 50), "01234567890123456789012345678901234567890123456789");
  EXPECT_EQ(drain(), Lines{});
  EXPECT_EQ(answer(cmd(4, 2, "destroy : NULL")), success(4, 2));
  EXPECT_EQ(drain(), Lines{});
}

TEST_F(Voice, ANetworkPlayerWhosePeerIsGoneBeforeTheIdEndsLikeALostConnection) {
  ASSERT_EQ(exchange(create(1, 2, networkPlayer("127.0.0.1:4000", 9))), Lines{success(1, 2)});
  int pair[2];
  ASSERT_EQ(::socketpair(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0, pair), 0);
  Fd gone(pair[0]);
  ::close(pair[1]);
  dynamic_cast<PlaySlotNetwork&>(*at(2)).OnConnect(ASync::Connect::Status::connected, std::move(gone));
  EXPECT_EQ(drain(), (Lines{ioctl(2, "startPlaying : NULL"), abort0(2)}));
  EXPECT_TRUE(contains(err(), "player[1024]: play failed")) << err();
}

TEST_F(Voice, AFilePlayerWithNothingPlayableRefusesTheConnectionAndAbortsOnce) {
  // "../x" names a file that exists, outside the phrase directory.
  root_.make_parent(std::string(sysroot::voice_dir) + "x");
  std::ofstream(root_.path(std::string(sysroot::voice_dir) + "../x"), std::ios::binary) << "secret";
  phrase("dir/inside", "sub");
  trunk();
  ASSERT_EQ(exchange(create(2, 2, filePlayer({"missing", "../x", "dir", "dir/../../x"}, 1))), Lines{success(2, 2)});
  EXPECT_TRUE(contains(err(), "phrase \"../x\" refused")) << err();
  EXPECT_TRUE(contains(err(), "phrase \"dir/../../x\" refused")) << err();
  EXPECT_EQ(request(cmd(3, 2, "connect : 1")).back(), error(3, 2, "connectFail"));
  EXPECT_EQ(drain(), Lines{abort0(2)});
  // An absolute name is refused the same way, even one naming a phrase.
  ASSERT_EQ(exchange(create(4, 3, filePlayer({root_.path(std::string(sysroot::voice_dir) + "dir/inside")}, 0))),
            Lines{success(4, 3)});
  EXPECT_EQ(request(cmd(5, 3, "connect : 1")).back(), error(5, 3, "connectFail"));
  EXPECT_EQ(drain(), Lines{abort0(3)});
}

TEST(VoicePhraseNames, OnlyNamesInsideThePhraseDirectoryAreAcceptable) {
  for (const char* name : {"a", "a/b", "..a", "a..", "a/..b/c", "...", "./a"})
    EXPECT_TRUE(PlaySlotFile::Acceptable(name)) << name;
  for (const char* name : {"/a", "..", "../a", "a/..", "a/../b", "a//../b"})
    EXPECT_FALSE(PlaySlotFile::Acceptable(name)) << name;
}

}  // namespace
