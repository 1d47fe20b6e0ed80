#include "runtime/syslog_manager.h"

#include <gtest/gtest.h>
#include <sys/eventfd.h>
#include <sys/stat.h>
#include <syslog.h>
#include <unistd.h>

#include <algorithm>
#include <filesystem>
#include <fstream>
#include <memory>
#include <string>

#include "platform/sysroot.h"
#include "tests/runtime/syslog_receiver.h"
#include "tests/runtime/test_process.h"
#include "tests/skip_reason.h"
#include "tests/temp_root.h"

namespace syslog_manager_test {  // named: see "Unity builds" in tests/README.md

const char kIdent[] = "korvend-T250428-2012";

// The socket a descriptor names (its inode), 0 for none.
ino_t Socket(int fd) {
  struct stat st;
  return ::fstat(fd, &st) == 0 && S_ISSOCK(st.st_mode) ? st.st_ino : 0;
}

bool NullDevice(int fd) {
  struct stat st, null;
  return ::fstat(fd, &st) == 0 && ::stat(sysroot::dev_null, &null) == 0 && S_ISCHR(st.st_mode) &&
         st.st_rdev == null.st_rdev;
}

class SysLogManagerTest : public ::testing::Test {
 protected:
  void SetUp() override {
    ASSERT_TRUE(root.ok());
    root.make_parent(sysroot::syslog_socket);
  }

  TempRoot root;
};

TEST_F(SysLogManagerTest, RecordMatchesWhatLoggerWrites) {
  testlog::Receiver rx(root.path(sysroot::syslog_socket));
  ASSERT_TRUE(rx.ok());
  SysLogManager m;
  m.openlog(kIdent, LOG_NDELAY, 0);
  EXPECT_TRUE(m.connected());
  m.syslog(LOG_DAEMON | LOG_ERR, "%s", "abc");
  EXPECT_TRUE(rx.empty()) << "records wait for the flush";
  EXPECT_GT(m.sendmsg(), 0);
  std::string d;
  ASSERT_TRUE(rx.receive(d));
  ASSERT_FALSE(d.empty());
  EXPECT_EQ(d.back(), '\0');
  const std::string record = d.substr(0, d.size() - 1);
  EXPECT_EQ(testlog::MaskStamp(record), "<27>STAMP korvend-T250428-2012: abc");

  const std::string reference = testlog::LoggerRecord(root.path(sysroot::syslog_socket), "daemon.err", kIdent, "abc", rx);
  if (reference.empty())
    GTEST_SKIP() << testkit::missing("logger (util-linux)") << ": record bytes not compared";
  EXPECT_EQ(testlog::MaskStamp(record), testlog::MaskStamp(reference));
}

TEST_F(SysLogManagerTest, IdentityPidAndFacility) {
  testlog::Receiver rx(root.path(sysroot::syslog_socket));
  SysLogManager m;
  struct {
    const char* ident;
    int options;
    int facility;
    int priority;
    std::string expect;
  } cases[] = {
      {kIdent, LOG_NDELAY, 0, LOG_ERR, "<11>STAMP korvend-T250428-2012: m"},  // default facility user
      {"", LOG_NDELAY, 0, LOG_DAEMON | LOG_INFO, "<30>STAMP m"},
      {"id", LOG_NDELAY | LOG_PID, 0, LOG_DAEMON | LOG_INFO, "<30>STAMP id[" + std::to_string(::getpid()) + "]: m"},
      {"id", LOG_NDELAY, LOG_LOCAL3, LOG_WARNING, "<156>STAMP id: m"},
      {"id", LOG_NDELAY, 0, LOG_WARNING, "<156>STAMP id: m"},  // the default stays
      {"id", LOG_NDELAY, 0x400 | LOG_DAEMON, LOG_WARNING, "<156>STAMP id: m"},  // not a facility: ignored
      {nullptr, LOG_NDELAY, 0, LOG_KERN | LOG_EMERG, "<152>STAMP id: m"},  // facility 0 in the priority
  };
  for (const auto& c : cases) {
    m.openlog(c.ident, c.options, c.facility);
    m.syslog(c.priority, "m");
    m.sendmsg();
    EXPECT_EQ(testlog::NextRecords(rx), std::vector<std::string>{c.expect});
  }
}

TEST_F(SysLogManagerTest, LongMessageIsCutAt1023Characters) {
  testlog::Receiver rx(root.path(sysroot::syslog_socket));
  SysLogManager m;
  m.openlog(kIdent, LOG_NDELAY, 0);
  m.syslog(LOG_DAEMON | LOG_ERR, "%s", std::string(5000, 'x').c_str());
  m.sendmsg();
  std::string d;
  ASSERT_TRUE(rx.receive(d));
  ASSERT_EQ(d.size(), 1024u);
  EXPECT_EQ(d.substr(1021), std::string("xx") + '\0');
  // An identity as long as the record leaves no room for the text, and the
  // record still stops at 1023 characters.
  m.openlog(std::string(3000, 'i').c_str(), LOG_NDELAY, 0);
  m.syslog(LOG_DAEMON | LOG_ERR, "%s", "tail");
  m.sendmsg();
  ASSERT_TRUE(rx.receive(d));
  ASSERT_EQ(d.size(), 1024u);
  EXPECT_EQ(d.find("tail"), std::string::npos);
}

TEST_F(SysLogManagerTest, BatchGoesOutWhenNearlyFull) {
  testlog::Receiver rx(root.path(sysroot::syslog_socket));
  int big = 1 << 20;
  ::setsockopt(rx.fd(), SOL_SOCKET, SO_RCVBUF, &big, sizeof big);
  SysLogManager m;
  m.openlog("", LOG_NDELAY, 0);
  // Records of 1000 bytes: the 13th passes 12289 bytes and sends at once.
  const std::string text(1000 - 1 - std::string("<30>Mmm dd hh:mm:ss ").size(), 'y');
  for (int i = 1; i <= 12; ++i) m.syslog(LOG_DAEMON | LOG_INFO, "%s", text.c_str());
  EXPECT_TRUE(rx.empty());
  m.syslog(LOG_DAEMON | LOG_INFO, "%s", text.c_str());
  std::string d;
  ASSERT_TRUE(rx.receive(d, 0));
  EXPECT_EQ(d.size(), 13000u);
  EXPECT_EQ(testlog::Records(d).size(), 13u);
  EXPECT_EQ(m.pendingRecords(), 0);

  // 256 short records send at once as well.
  for (int i = 1; i <= 255; ++i) m.syslog(LOG_DAEMON | LOG_INFO, "%d", i);
  EXPECT_TRUE(rx.empty());
  m.syslog(LOG_DAEMON | LOG_INFO, "last");
  ASSERT_TRUE(rx.receive(d, 0));
  const auto recs = testlog::Records(d);
  ASSERT_EQ(recs.size(), 256u);
  EXPECT_EQ(testlog::MaskStamp(recs[0]), "<30>STAMP 1");
  EXPECT_EQ(testlog::MaskStamp(recs[255]), "<30>STAMP last");
  EXPECT_EQ(m.sendmsg(), 0) << "nothing pending, nothing sent";
  EXPECT_TRUE(rx.empty());
}

TEST_F(SysLogManagerTest, MaskedSeverityIsNeitherSentNorPrinted) {
  testlog::Receiver rx(root.path(sysroot::syslog_socket));
  SysLogManager m;
  m.openlog(kIdent, LOG_NDELAY | LOG_PERROR, 0);
  m.setlogmask(LOG_UPTO(LOG_NOTICE));
  testing::internal::CaptureStderr();
  m.syslog(LOG_DAEMON | LOG_DEBUG, "hidden");
  m.syslog(LOG_DAEMON | LOG_NOTICE, "shown");
  m.syslog(LOG_DAEMON | LOG_NOTICE, "ends\n");
  const std::string err = testing::internal::GetCapturedStderr();
  m.sendmsg();
  // Printed from the identity on, with a line feed added only when missing.
  EXPECT_EQ(err, "korvend-T250428-2012: shown\nkorvend-T250428-2012: ends\n");
  EXPECT_EQ(testlog::NextRecords(rx), (std::vector<std::string>{"<29>STAMP korvend-T250428-2012: shown",
                                                                 "<29>STAMP korvend-T250428-2012: ends\n"}));
}

TEST_F(SysLogManagerTest, FailedSendDropsTheConnectionAndTheNextRecordReconnects) {
  auto rx = std::make_unique<testlog::Receiver>(root.path(sysroot::syslog_socket));
  SysLogManager m;
  m.openlog(kIdent, LOG_NDELAY, 0);
  const int copy = ::eventfd(0, EFD_CLOEXEC);  // any descriptor
  ASSERT_GE(copy, 0);
  m.copyOnto(copy);
  EXPECT_EQ(Socket(copy), Socket(m.descriptor()));
  m.syslog(LOG_DAEMON | LOG_INFO, "one");
  m.sendmsg();
  EXPECT_EQ(testlog::NextRecords(*rx).size(), 1u);

  rx->stop();  // the system log daemon goes away
  m.syslog(LOG_DAEMON | LOG_INFO, "lost");
  EXPECT_LT(m.sendmsg(), 0);
  EXPECT_FALSE(m.connected());
  m.syslog(LOG_DAEMON | LOG_INFO, "also lost");  // no receiver: dropped
  EXPECT_FALSE(m.connected());
  EXPECT_EQ(m.pendingRecords(), 0);
  EXPECT_TRUE(NullDevice(copy)) << "not connected: the copy holds the null device";

  rx = std::make_unique<testlog::Receiver>(root.path(sysroot::syslog_socket));  // and comes back
  m.syslog(LOG_DAEMON | LOG_INFO, "two");
  EXPECT_TRUE(m.connected());
  EXPECT_EQ(Socket(copy), Socket(m.descriptor()));
  m.sendmsg();
  EXPECT_EQ(testlog::NextRecords(*rx), std::vector<std::string>{"<30>STAMP korvend-T250428-2012: two"});

  // It restarts: the check, sending nothing, connects again, and the copy
  // reaches the new one.
  EXPECT_TRUE(m.check());
  rx.reset();
  rx = std::make_unique<testlog::Receiver>(root.path(sysroot::syslog_socket));
  EXPECT_TRUE(m.check());
  ASSERT_EQ(::write(copy, "raw", 3), 3);
  EXPECT_EQ(testlog::NextRecords(*rx), std::vector<std::string>{"raw<unterminated>"});
  rx.reset();
  EXPECT_FALSE(m.check());
  EXPECT_TRUE(NullDevice(copy));
  ::close(copy);
}

TEST_F(SysLogManagerTest, ConnectsLazilyAndCloselogForgetsIdentityAndBatch) {
  testlog::Receiver rx(root.path(sysroot::syslog_socket));
  SysLogManager m;
  m.openlog(kIdent, 0, 0);  // no LOG_NDELAY: no socket yet
  EXPECT_FALSE(m.connected());
  m.syslog(LOG_DAEMON | LOG_INFO, "pending");
  EXPECT_TRUE(m.connected());
  EXPECT_EQ(m.pendingRecords(), 1);
  m.closelog();
  EXPECT_FALSE(m.connected());
  EXPECT_EQ(m.pendingRecords(), 0);
  m.syslog(LOG_DAEMON | LOG_INFO, "after");
  m.sendmsg();
  EXPECT_EQ(testlog::NextRecords(rx), std::vector<std::string>{"<30>STAMP syslog-tm: after"});
}

TEST_F(SysLogManagerTest, StreamLogSocketIsUsedWhenTheDatagramOneIsRefused) {
  auto listener = std::make_unique<testlog::Receiver>(root.path(sysroot::syslog_socket), SOCK_STREAM);
  ASSERT_TRUE(listener->ok());
  SysLogManager m;
  const int copy = ::eventfd(0, EFD_CLOEXEC);  // any descriptor
  ASSERT_GE(copy, 0);
  m.copyOnto(copy);
  EXPECT_EQ(Socket(copy), 0u) << "no socket yet: left as it is";
  m.openlog(kIdent, LOG_NDELAY, 0);
  ASSERT_TRUE(m.connected());
  EXPECT_EQ(m.socketType(), SOCK_STREAM);
  EXPECT_EQ(Socket(copy), Socket(m.descriptor()));
  // The records of the next send, read from the listener's next connection.
  auto records = [&](int count) {
    std::string got;
    pollfd p{listener->fd(), POLLIN, 0};
    if (::poll(&p, 1, 10000) != 1) return testlog::Records(got);
    const int conn = ::accept(listener->fd(), nullptr, nullptr);
    EXPECT_GE(conn, 0);
    char buf[4096];
    p = {conn, POLLIN, 0};
    while (std::count(got.begin(), got.end(), '\0') < count && ::poll(&p, 1, 10000) == 1) {
      const ssize_t n = ::read(conn, buf, sizeof buf);
      if (n <= 0) break;
      got.append(buf, static_cast<size_t>(n));
    }
    ::close(conn);
    return testlog::Records(got);
  };
  m.syslog(LOG_DAEMON | LOG_ERR, "a");
  m.syslog(LOG_DAEMON | LOG_ERR, "b");
  EXPECT_GT(m.sendmsg(), 0);
  auto recs = records(2);
  ASSERT_EQ(recs.size(), 2u);
  EXPECT_EQ(testlog::MaskStamp(recs[1]), "<27>STAMP korvend-T250428-2012: b");

  // A stream cannot be connected again: after a restart of the log daemon
  // a new socket takes the batch, and the copy becomes that socket.
  const ino_t old = Socket(m.descriptor());
  listener.reset();
  listener = std::make_unique<testlog::Receiver>(root.path(sysroot::syslog_socket), SOCK_STREAM);
  m.syslog(LOG_DAEMON | LOG_ERR, "c");
  EXPECT_GT(m.sendmsg(), 0);
  recs = records(1);
  ASSERT_EQ(recs.size(), 1u);
  EXPECT_EQ(testlog::MaskStamp(recs[0]), "<27>STAMP korvend-T250428-2012: c");
  EXPECT_NE(Socket(m.descriptor()), old);
  EXPECT_EQ(Socket(copy), Socket(m.descriptor()));
  ::close(copy);
  m.closelog();
  EXPECT_EQ(m.socketType(), SOCK_DGRAM);
}

TEST_F(SysLogManagerTest, ConsoleTakesTheRecordWhenNoLogSocketAnswers) {
  const std::string console = root.path(sysroot::console);
  { std::ofstream(console).flush(); }
  SysLogManager m;
  m.openlog(kIdent, LOG_CONS, LOG_DAEMON);
  m.syslog(LOG_ERR, "no log daemon");
  EXPECT_FALSE(m.connected());
  EXPECT_EQ(testproc::ReadFile(console), "korvend-T250428-2012: no log daemon\r\n");
}

TEST_F(SysLogManagerTest, SocketPathTooLongIsRefusedNotCut) {
  // Nest directories until the mapped socket path passes 107 characters.
  std::string deep = root.dir();
  while (deep.size() + 8 < 120) deep += "/dddddddddd";
  std::filesystem::create_directories(std::filesystem::path(deep + sysroot::syslog_socket).parent_path());
  ASSERT_TRUE(sysroot::set_root(deep));
  const std::string full = deep + sysroot::syslog_socket;
  sockaddr_un addr;
  std::string error;
  EXPECT_FALSE(SysLogManager::address(addr, error));
  EXPECT_EQ(error, "syslog: socket path too long: " + full);

  SysLogManager m;
  testing::internal::CaptureStderr();
  m.openlog(kIdent, LOG_NDELAY, 0);
  m.syslog(LOG_DAEMON | LOG_ERR, "x");
  const std::string err = testing::internal::GetCapturedStderr();
  EXPECT_FALSE(m.connected());
  EXPECT_EQ(m.descriptor(), -1);
  EXPECT_EQ(err, "syslog: socket path too long: " + full + "\n") << "reported once";
}

}  // namespace syslog_manager_test
