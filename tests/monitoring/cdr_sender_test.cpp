// Call records to UDP listeners of the test: one datagram per destination,
// and no record lost silently or sent where no destination says.
#include "monitoring/cdr_sender.h"

#include <arpa/inet.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include <iostream>
#include <string>
#include <vector>

#include "tests/stream_capture.h"

namespace {

// A UDP socket bound to a free loopback port.
class Listener {
 public:
  Listener() : fd_(::socket(AF_INET, SOCK_DGRAM | SOCK_CLOEXEC, 0)) {
    sockaddr_in a{};
    a.sin_family = AF_INET;
    a.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    socklen_t len = sizeof a;
    ::bind(fd_, reinterpret_cast<sockaddr*>(&a), sizeof a);
    ::getsockname(fd_, reinterpret_cast<sockaddr*>(&a), &len);
    port_ = ntohs(a.sin_port);
  }
  ~Listener() { ::close(fd_); }
  Listener(const Listener&) = delete;
  Listener& operator=(const Listener&) = delete;

  std::string address() const { return "127.0.0.1:" + std::to_string(port_); }
  int port() const { return port_; }

  // Every datagram that has arrived (a loopback datagram is queued before
  // sendto returns; the wait only bounds a slow machine).
  std::vector<std::string> received(int wait_ms = 0) {
    std::vector<std::string> all;
    pollfd p{fd_, POLLIN, 0};
    while (::poll(&p, 1, all.empty() ? wait_ms : 0) > 0) {
      char buf[70000];
      const ssize_t n = ::recv(fd_, buf, sizeof buf, MSG_DONTWAIT);
      if (n < 0) break;
      all.emplace_back(buf, static_cast<std::size_t>(n));
    }
    return all;
  }

 private:
  int fd_;
  int port_ = 0;
};

using Records = std::vector<std::string>;

TEST(CallRecords, OneDatagramToEachDestinationInTheList) {
  Listener a, b;
  CDR_Sender::Sender sender;
  ASSERT_TRUE(sender.is_open());
  const std::string record = "2024-05-01 12:00:03;slot 12;E1-0/5;00:03:41;normal clearing\n";
  EXPECT_TRUE(sender.SendTo(record, a.address() + " " + b.address()));
  EXPECT_EQ(a.received(2000), Records{record});
  EXPECT_EQ(b.received(2000), Records{record});

  // Any white space separates; a destination named twice gets it twice.
  EXPECT_TRUE(sender.SendTo("r2", "\t" + a.address() + "\n  " + b.address() + " " + a.address() + " \n"));
  EXPECT_EQ(a.received(2000), (Records{"r2", "r2"}));
  EXPECT_EQ(b.received(2000), Records{"r2"});

  // No destination: nothing to send, nothing failed.
  EXPECT_TRUE(sender.SendTo("r3", ""));
  EXPECT_TRUE(sender.SendTo("r3", " \t\n"));
  EXPECT_TRUE(a.received().empty());
}

TEST(CallRecords, ADestinationThatDoesNotParseIsSkippedAndReported) {
  Listener a, b;
  CDR_Sender::Sender sender;
  testkit::StreamCapture log(std::clog);
  // A word whose address does not read must not fall back to 0.0.0.0, which
  // the kernel delivers locally: a listener on its port hears nothing.
  const std::string port = std::to_string(a.port());
  EXPECT_FALSE(sender.SendTo("rec", "gateway:" + port + " " + b.address()));
  EXPECT_EQ(b.received(2000), Records{"rec"});
  EXPECT_TRUE(a.received(50).empty());
  EXPECT_NE(log.str().find("cdr: destination \"gateway:" + port + "\""), std::string::npos) << log.str();

  for (const std::string& bad : std::vector<std::string>{"127.0.0.1", "127.0.0.1:", "127.0.0.1:0", "127.0.0.1:65536", "127.0.0.1:" + port + "x",
        "127.0.0.1:-" + port, "127.0.0.1:+" + port, "1.2.3.4.5:" + port, ":" + port, "127.0.0.1:99999999999"}) {
    log.clear();
    EXPECT_FALSE(sender.SendTo("bad", bad + " " + b.address())) << bad;
    EXPECT_EQ(b.received(2000), Records{"bad"}) << bad;
    EXPECT_NE(log.str().find("cdr: destination \"" + bad + "\" is no address:port; skipped"), std::string::npos)
        << log.str();
  }
  EXPECT_TRUE(a.received(50).empty());
}

TEST(CallRecords, AFailedSendIsReportedAndTheOthersStillGetTheRecord) {
  Listener a;
  CDR_Sender::Sender sender;
  testkit::StreamCapture log(std::clog);
  // Larger than any UDP datagram: refused by the kernel for every
  // destination.
  const std::string huge(70000, 'x');
  EXPECT_FALSE(sender.SendTo(huge, a.address()));
  EXPECT_NE(log.str().find("cdr: sending to " + a.address() + " failed"), std::string::npos) << log.str();
  EXPECT_TRUE(a.received(50).empty());
  // A broadcast address needs a permission the socket does not ask for.
  log.clear();
  Listener b;
  EXPECT_FALSE(sender.SendTo("rec", "255.255.255.255:9 " + b.address()));
  EXPECT_EQ(b.received(2000), Records{"rec"});
  EXPECT_NE(log.str().find("cdr: sending to 255.255.255.255:9 failed"), std::string::npos) << log.str();
}

}  // namespace
