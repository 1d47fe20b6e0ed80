#include "runtime/syslog_stream_buf.h"

#include <gtest/gtest.h>
#include <syslog.h>

#include <ostream>
#include <string>

#include "platform/sysroot.h"
#include "runtime/syslog_manager.h"
#include "tests/runtime/syslog_receiver.h"
#include "tests/temp_root.h"

namespace {

// The stream buffers feed the process-wide syslogManager; each test points
// it at a receiver of its own and leaves it closed.
class ManagedStreamTest : public ::testing::Test {
 protected:
  void SetUp() override {
    ASSERT_TRUE(root.ok());
    root.make_parent(sysroot::syslog_socket);
    rx = std::make_unique<testlog::Receiver>(root.path(sysroot::syslog_socket));
    ASSERT_TRUE(rx->ok());
    syslogManager.openlog("korvend-T250428-2012", LOG_NDELAY, 0);
    ASSERT_TRUE(syslogManager.connected());
  }
  void TearDown() override { syslogManager.closelog(); }

  std::vector<std::string> NextDatagram() { return testlog::NextRecords(*rx); }

  TempRoot root;
  std::unique_ptr<testlog::Receiver> rx;
};

using Recs = std::vector<std::string>;

TEST_F(ManagedStreamTest, EachStreamHasItsPriorityAndLinesOfOneFlushShareADatagram) {
  ManagedSysLogStreamBuf out(LOG_DAEMON, LOG_NOTICE), err(LOG_DAEMON, LOG_ERR), dbg(LOG_DAEMON, LOG_DEBUG);
  std::ostream o(&out), e(&err), l(&dbg);
  e << "abc" << std::endl;
  EXPECT_EQ(NextDatagram(), Recs{"<27>STAMP korvend-T250428-2012: abc"});
  o << "port=" << 20001 << std::endl;
  EXPECT_EQ(NextDatagram(), Recs{"<29>STAMP korvend-T250428-2012: port=20001"});
  // Text after the last line feed of a flush goes too, and an empty line is
  // a record of its own.
  l << "a\n\nb" << std::flush;
  EXPECT_EQ(NextDatagram(), (Recs{"<31>STAMP korvend-T250428-2012: a", "<31>STAMP korvend-T250428-2012: ",
                                  "<31>STAMP korvend-T250428-2012: b"}));
  EXPECT_TRUE(rx->empty());
}

TEST_F(ManagedStreamTest, PartialLineWaitsForItsLineFeed) {
  ManagedSysLogStreamBuf err(LOG_DAEMON, LOG_ERR);
  std::ostream e(&err);
  e << "Mux: " << std::flush;
  e << "fail" << std::flush;
  EXPECT_TRUE(rx->empty());
  EXPECT_EQ(syslogManager.pendingRecords(), 0);
  e << " to open" << std::endl;
  EXPECT_EQ(NextDatagram(), Recs{"<27>STAMP korvend-T250428-2012: Mux: fail to open"});
}

TEST_F(ManagedStreamTest, FullAreaIsPassedAsOneMessageCutToARecord) {
  ManagedSysLogStreamBuf err(LOG_DAEMON, LOG_ERR);
  std::ostream e(&err);
  // The area holds 16383 characters; the next one passes them on.
  e << std::string(ManagedSysLogStreamBuf::kManagedAreaSize - 1, 'z');
  EXPECT_TRUE(rx->empty());
  e << "!";
  std::string d;
  ASSERT_TRUE(rx->receive(d));
  ASSERT_EQ(d.size(), SysLogManager::kRecordSize);
  EXPECT_EQ(d.substr(d.size() - 3), std::string("zz") + '\0');
  e << std::endl;  // the character that overflowed opens the next message
  EXPECT_EQ(NextDatagram(), Recs{"<27>STAMP korvend-T250428-2012: !"});
}

TEST_F(ManagedStreamTest, CallerAreaReplacesTheOwnOne) {
  ManagedSysLogStreamBuf err(LOG_DAEMON, LOG_ERR);
  std::ostream e(&err);
  char area[6];
  EXPECT_EQ(err.pubsetbuf(area, 1), &err);  // too small: ignored
  e << "abcdefgh" << std::endl;
  EXPECT_EQ(NextDatagram(), Recs{"<27>STAMP korvend-T250428-2012: abcdefgh"});
  err.pubsetbuf(area, sizeof area);  // five characters and the zero
  e << "abcdefgh" << std::flush;
  EXPECT_EQ(NextDatagram(), Recs{"<27>STAMP korvend-T250428-2012: abcde"});
  EXPECT_TRUE(rx->empty());
  e << std::endl;
  EXPECT_EQ(NextDatagram(), Recs{"<27>STAMP korvend-T250428-2012: fgh"});
}

}  // namespace
