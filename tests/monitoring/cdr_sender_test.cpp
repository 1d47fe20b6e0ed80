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

#include "tests/loopback_client.h"
#include "tests/stream_capture.h"

namespace {

// A UDP socket bound to a free loopback port.
struct Listener {
  Listener() {
    sockaddr_in a = testkit::loopback(0);
    socklen_t len = sizeof a;
    ::bind(fd, reinterpret_cast<sockaddr*>(&a), sizeof a);
    ::getsockname(fd, reinterpret_cast<sockaddr*>(&a), &len);
    port = std::to_string(ntohs(a.sin_port));
  }
  ~Listener() { ::close(fd); }
  std::string address() const { return "127.0.0.1:" + port; }
  // The datagrams that have arrived. A loopback datagram is queued before
  // sendto returns; the wait for the first only bounds a slow machine.
  std::vector<std::string> received(int wait_ms = 2000) {
    std::vector<std::string> all;
    pollfd p{fd, POLLIN, 0};
    char buf[70000];
    for (ssize_t n; ::poll(&p, 1, all.empty() ? wait_ms : 0) > 0 && (n = ::recv(fd, buf, sizeof buf, 0)) >= 0;)
      all.emplace_back(buf, static_cast<std::size_t>(n));
    return all;
  }

  const int fd = ::socket(AF_INET, SOCK_DGRAM | SOCK_CLOEXEC, 0);
  std::string port;
};

using Records = std::vector<std::string>;

TEST(CallRecords, OneDatagramToEachDestinationInTheList) {
  Listener a, b;
  CDR_Sender::Sender sender;
  const std::string record = "2024-05-01 12:00:03;slot 12;E1-0/5;00:03:41;normal clearing\n";
  EXPECT_TRUE(sender.SendTo(record, a.address() + " " + b.address()));
  EXPECT_EQ(a.received(), Records{record});
  EXPECT_EQ(b.received(), Records{record});
  // Any white space separates; a destination named twice gets it twice.
  EXPECT_TRUE(sender.SendTo("r2", "\t" + a.address() + "\n  " + b.address() + " " + a.address() + " \n"));
  EXPECT_EQ(a.received(), (Records{"r2", "r2"}));
  EXPECT_EQ(b.received(), Records{"r2"});
  // No destination: nothing to send, nothing failed.
  EXPECT_TRUE(sender.SendTo("r3", " \t\n"));
  EXPECT_TRUE(a.received(20).empty());
}

TEST(CallRecords, ADestinationThatDoesNotParseIsSkippedAndReported) {
  Listener a, b;
  CDR_Sender::Sender sender;
  testkit::StreamCapture log(std::clog);
  // An address that does not read must not fall back to 0.0.0.0, which the
  // kernel delivers locally: the listener on its port hears nothing.
  // Nor may the short, hexadecimal or octal forms stand for one: a
  // destination is four decimal octets.
  for (const std::string& bad :
       Records{"gateway:" + a.port, "127.0.0.1", "127.0.0.1:0", "127.0.0.1:65536", "127.0.0.1:" + a.port + "x",
               "127.0.0.1:-" + a.port, "1.2.3.4.5:" + a.port, "127.1:" + a.port, "0x7f000001:" + a.port,
               "0x7f.0.0.1:" + a.port, "127.0.0.256:" + a.port, "127.0.0.0001:" + a.port, "127..0.1:" + a.port,
               "127.0.0.1.:" + a.port, "127.0.0.1:+" + a.port, "127.0.0.1:" + std::to_string(std::stoi(a.port) + 65536),
               ":" + a.port, "127.0.0.1:"}) {
    log.clear();
    EXPECT_FALSE(sender.SendTo("rec", bad + " " + b.address())) << bad;
    EXPECT_EQ(b.received(), Records{"rec"}) << bad;
    EXPECT_EQ(log.str(), "cdr: destination \"" + bad + "\" is no address:port; skipped\n") << bad;
  }
  // 0.0.0.0 reads well, but the kernel takes it for this host.
  log.clear();
  EXPECT_FALSE(sender.SendTo("rec", "0.0.0.0:" + a.port + " " + b.address()));
  EXPECT_EQ(b.received(), Records{"rec"});
  EXPECT_EQ(log.str(), "cdr: destination \"0.0.0.0:" + a.port + "\" names no host; skipped\n");
  EXPECT_TRUE(a.received(20).empty());
  // Octets with leading zeros are still decimal.
  EXPECT_TRUE(sender.SendTo("ok", "127.000.0.01:" + a.port));
  EXPECT_EQ(a.received(), Records{"ok"});
}

TEST(CallRecords, AFailedSendIsReportedAndTheOthersStillGetTheRecord) {
  Listener a, b;
  CDR_Sender::Sender sender;
  testkit::StreamCapture log(std::clog);
  // A broadcast address needs a permission the socket does not ask for.
  EXPECT_FALSE(sender.SendTo("rec", "255.255.255.255:9 " + b.address()));
  EXPECT_EQ(b.received(), Records{"rec"});
  EXPECT_NE(log.str().find("cdr: sending to 255.255.255.255:9 failed"), std::string::npos) << log.str();
  // Larger than any UDP datagram.
  EXPECT_FALSE(sender.SendTo(std::string(70000, 'x'), a.address()));
  EXPECT_TRUE(a.received(20).empty());
}

}  // namespace
