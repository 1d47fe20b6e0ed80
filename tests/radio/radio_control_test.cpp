// The radio control base on the simulated RTP extension driver: the three
// kinds of session, stopping and starting again, the access filter, the
// status timer on the test clock, failures, the log prefix and the
// gateway's own address.
#include "radio/radio_control.h"

#include <arpa/inet.h>
#include <gtest/gtest.h>

#include <cctype>

#include "runtime/test_clock.h"
#include "tests/net_namespace.h"
#include "tests/radio/radio_fixture.h"

namespace {

using radiotest::Lines;
using RTPSignalling::RadioControl;

// A control that counts what the loop asks of it.
class Counting : public RadioControl {
 public:
  using RadioControl::RadioControl;
  int events = 0;
  std::vector<unsigned long> steps;  // loop times of the status steps
  unsigned long next = 1000;

 protected:
  void OnRtpExtEvent(int fd, short revents) override {
    if (!(revents & POLLIN)) return;
    ++events;
    char buf[1024];
    while (::read(fd, buf, sizeof buf) > 0) {
    }
  }
  unsigned long ProcessRadioStatus(unsigned long now, unsigned long) override {
    steps.push_back(now);
    return next;
  }
};

class RadioControlTest : public radiotest::RadioBoardTest {};

// Whether text is head, a local time as "2024-05-01 12:00:00.123456", ":".
bool prefixed(const std::string& text, const std::string& head) {
  const std::string shape = "dddd-dd-dd dd:dd:dd.dddddd:";
  bool ok = text.size() == head.size() + shape.size() && text.compare(0, head.size(), head) == 0;
  for (std::size_t i = 0; ok && i < shape.size(); ++i)
    ok = shape[i] == 'd' ? std::isdigit(static_cast<unsigned char>(text[head.size() + i])) != 0
                         : text[head.size() + i] == shape[i];
  return ok;
}

TEST_F(RadioControlTest, AnOwnSessionIsOpenedInitialisedAndAttachedThenDetachedAndClosedOnStop) {
  Counting c(7, attach(), init());
  EXPECT_EQ(c.type(), RadioControl::own_session);
  std::string j = journalText();
  EXPECT_TRUE(hwtest::hasLine(j, "open /dev/rtp_ext rdwr|nonblock", "-> 0")) << j;  // reads never block
  EXPECT_TRUE(hwtest::hasLine(j, "ioctl /dev/rtp_ext 0xC0144500 rec=" + hwtest::hex(init()), "(init 4919)"));
  EXPECT_TRUE(hwtest::hasLine(j, "ioctl /dev/rtp_ext 0xC0084501 rec=" + hwtest::hex(attach()),
                              "-> 0 (attach fd " + std::to_string(rtp_) + " pid " + std::to_string(::getpid()) +
                                  " channel 4096)"));
  EXPECT_EQ(requests(sysroot::rtp, "0xC0085209"), Lines{});
  command("rtp-ext inject last 10.0.0.5 1 01 00 00 00");
  EXPECT_TRUE(pump([&] { return c.events == 1; }));  // its descriptor is watched

  board().clear_journal();
  EXPECT_TRUE(c.RtpExtStop());
  settle();
  j = journalText();
  EXPECT_TRUE(hwtest::hasLine(j, "ioctl /dev/rtp_ext 0x20004502 rec=" + hwtest::hex(attach()), "-> 0 (detach)")) << j;
  EXPECT_TRUE(hwtest::hasLine(j, "close /dev/rtp_ext", ""));
  EXPECT_TRUE(c.RtpExtStop());  // nothing left to stop: no failure line
  EXPECT_EQ(err(), "");
  // Started again: a new session, watched again.
  EXPECT_TRUE(c.RtpExtStart(false));
  command("rtp-ext inject last 10.0.0.5 1 01 00 00 00");
  EXPECT_TRUE(pump([&] { return c.events == 2; }));
}

TEST_F(RadioControlTest, AnAttachedRtpControlAttachesTheRtpSessionAndOpensNothingOfItsOwn) {
  Counting c(3, Fd(::dup(rtp_)), rtp_attach_session_params{7, 123});
  EXPECT_EQ(c.type(), RadioControl::attached_rtp);
  EXPECT_FALSE(c.ext_fd().valid());
  EXPECT_EQ(requests(sysroot::rtp, "0xC0085209"),
            Lines{"ioctl /dev/rtp 0xC0085209 rec=" + hwtest::hex(rtp_attach_session_params{7, 123}) +
                  " -> 0 (attach fd 7 pid 123)"});
  EXPECT_EQ(journalText().find(sysroot::rtp_ext), std::string::npos);
  EXPECT_TRUE(c.RtpExtStop());
  EXPECT_TRUE(c.RtpExtStart(false));  // attaches again
  EXPECT_EQ(requests(sysroot::rtp, "0xC0085209").size(), 2u);
  c.UpdateAccess(true, in_addr{::inet_addr("10.0.0.1")});  // remembered, with no driver to tell
  EXPECT_TRUE(c.filter_on());
  EXPECT_EQ(err(), "");
}

TEST_F(RadioControlTest, AnUnjoinedSessionIsInitialisedButNotAttachedAndKeptOverAStop) {
  Counting c(init(rtp_ext::ed137_identifier));
  EXPECT_EQ(c.type(), RadioControl::unjoined);
  EXPECT_EQ(requests(sysroot::rtp_ext, "0xC0144500").size(), 1u);
  EXPECT_EQ(requests(sysroot::rtp_ext, "0xC0084501"), Lines{});
  EXPECT_TRUE(c.RtpExtStop());
  EXPECT_TRUE(c.ext_fd().valid());
  EXPECT_TRUE(c.RtpExtStart(false));  // opens nothing
  EXPECT_EQ(command("rtp-ext").size(), 1u);
  EXPECT_TRUE(prefixed(c.GetPrefix(), "rtp_ext ")) << c.GetPrefix();
  Counting joined(12, attach(), init());
  EXPECT_TRUE(prefixed(joined.GetPrefix(), "rtp_ext[12] ")) << joined.GetPrefix();
}

TEST_F(RadioControlTest, TheFilterIsSetOnceForAnAddressAndResetOnceWhenItGoes) {
  Counting c(1, attach(), init());
  const in_addr a{::inet_addr("10.0.0.5")}, b{::inet_addr("10.0.0.6")};
  EXPECT_EQ(c.UpdateAccess(false, a), 0);  // none set: nothing to reset
  c.UpdateAccess(true, a);
  c.UpdateAccess(true, a);
  EXPECT_EQ(requests(sysroot::rtp_ext, "0xC0084504"),
            Lines{"ioctl /dev/rtp_ext 0xC0084504 rec=" + hwtest::hex(rtp_ext_filter{a.s_addr, 0}) +
                  " -> 0 (filter 10.0.0.5)"});
  c.UpdateAccess(true, b);
  EXPECT_EQ(requests(sysroot::rtp_ext, "0xC0084504").size(), 2u);
  c.UpdateAccess(false, b);
  c.UpdateAccess(false, b);
  EXPECT_EQ(requests(sysroot::rtp_ext, "0x20004505").size(), 1u);
  // A refused request still changes what the control remembers.
  command("fail rtp_ext C0084504 EIO 1");
  c.UpdateAccess(true, a);
  EXPECT_TRUE(c.filter_on());
  EXPECT_TRUE(hwtest::contains(err(), ":set filer rtp_ext session fail !!!\n"));
  c.UpdateAccess(true, a);
  EXPECT_EQ(requests(sysroot::rtp_ext, "0xC0084504").size(), 3u);
}

// A codec change gives the channel a new session: the radio's access rule
// must hold there too, and an address not yet named must not shut
// everyone out.
TEST_F(RadioControlTest, TheFilterGoesOnEachNewSessionAndIsNeverSetForAnAddressNotYetKnown) {
  Counting c(1, attach(), init());
  c.UpdateAccess(true, in_addr{INADDR_ANY});
  EXPECT_FALSE(c.filter_on());
  EXPECT_EQ(requests(sysroot::rtp_ext, "0xC0084504"), Lines{});
  const in_addr a{::inet_addr("10.0.0.5")};
  c.UpdateAccess(true, a);
  c.UpdateAccess(true, in_addr{INADDR_ANY});  // the named one goes
  EXPECT_FALSE(c.filter_on());
  EXPECT_EQ(requests(sysroot::rtp_ext, "0x20004505").size(), 1u);
  c.UpdateAccess(true, a);
  c.RtpExtStop();
  ASSERT_TRUE(c.RtpExtStart(false));
  settle();
  const Lines listing = command("rtp-ext");
  ASSERT_EQ(listing.size(), 2u);
  EXPECT_TRUE(hwtest::contains(listing[1], " open ")) << listing[1];
  EXPECT_TRUE(hwtest::contains(listing[1], " filter 10.0.0.5 ")) << listing[1];
  c.UpdateAccess(true, a);  // the same address again: the new session has it
  EXPECT_EQ(requests(sysroot::rtp_ext, "0xC0084504").size(), 3u);

  // An unjoined control stopped and started keeps its session and its filter.
  Counting unjoined(init());
  unjoined.UpdateAccess(true, a);
  unjoined.RtpExtStop();
  EXPECT_TRUE(unjoined.RtpExtStart(false));
  EXPECT_EQ(requests(sysroot::rtp_ext, "0xC0084504").size(), 4u);
  EXPECT_EQ(err(), "");
}

TEST_F(RadioControlTest, EachRefusalIsOneLineAndLeavesTheControlWithoutASession) {
  command("refuse-open rtp_ext");
  std::make_unique<Counting>(1, attach(), init());
  command("refuse-open rtp_ext off");
  command("fail rtp_ext C0144500 EIO 1");
  std::make_unique<Counting>(init());
  Counting stale(1, rtp_ext_attach_session_params{rtp_ + 100, ::getpid()}, init());  // no such session
  EXPECT_FALSE(stale.ext_fd().valid());
  EXPECT_FALSE(stale.has_session());
  command("fail rtp C0085209 EINVAL 1");
  Counting c(1, Fd(::dup(rtp_)), rtp_attach_session_params{7, 123});
  EXPECT_FALSE(c.has_session());
  EXPECT_TRUE(c.RtpExtStart(false));  // the attach goes through now
  EXPECT_TRUE(c.has_session());
  const std::string e = err();
  EXPECT_EQ(count(e, "\n"), 4) << e;
  for (const char* line : {":create rtp_ext session fail !!!\n", ":init rtp_ext session fail !!!\n",
                           ":attach rtp_ext session fail !!!\n", ":attach rtp session fail !!!\n"})
    EXPECT_EQ(count(e, line), 1) << line;
  settle();
  EXPECT_EQ(count(journalText(), "close /dev/rtp_ext"), 2);  // nothing left open
}

TEST_F(RadioControlTest, TheStatusStepComesEveryIntervalOnlyWhileTheTimerIsOn) {
  Mux::TestClock clock(50000);
  Counting c(1, attach(), init());
  clock.advance(5000);
  EXPECT_TRUE(c.steps.empty());  // off after construction
  c.SetTimerEnable(true);
  clock.advance(2999);
  EXPECT_EQ(c.steps, (std::vector<unsigned long>{56000, 57000}));
  c.next = 250;  // a step chooses when the next one comes
  clock.advance(251);
  EXPECT_EQ(c.steps.back(), 58250u);
  c.SetTimerEnable(false);
  clock.advance(10000);
  EXPECT_EQ(c.steps.size(), 4u);
  // The base answers no radio message and steps at its interval.
  RadioControl base(2, attach(), init());
  EXPECT_FALSE(base.SendASNToChan(TERM::RadioStatus()) || base.SendASNToChan(TERM::RadioModifier()) || base.GetSQU());
  base.SetTimerEnable(true);
  clock.advance(3000);
  EXPECT_TRUE(base.timer_armed());
}

TEST_F(RadioControlTest, TheOwnAddressIsTheFirstPrivateOneOrElseLoopback) {
  if (::geteuid() != 0) GTEST_SKIP() << testkit::refused("network namespaces need root; not tested here");
  auto own = [this] {
    return RadioControl(1, Fd(::dup(rtp_)), rtp_attach_session_params{7, 123}).local_addr().GetString();
  };
  std::string skip;
  const std::string batch = "link set lo up\nlink add d0 type TYPE\naddr add ADDR dev d0\nlink set d0 up\n";
  const auto with = [&](const std::string& addr) {
    std::string b = batch;
    return testkit::inFreshNamespaces(b.replace(b.find("ADDR"), 4, addr), own, skip);
  };
  const std::string none = with("192.0.2.1/24");
  if (!skip.empty()) GTEST_SKIP() << skip;
  EXPECT_EQ(none, "127.0.0.1:0");
  EXPECT_EQ(with("172.20.1.2/16"), "172.20.1.2:0");
}

}  // namespace
