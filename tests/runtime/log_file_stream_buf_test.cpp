#include "runtime/log_file_stream_buf.h"

#include <gtest/gtest.h>

#include <ctime>
#include <filesystem>
#include <ostream>
#include <string>

#include "tests/runtime/test_process.h"
#include "tests/temp_root.h"

namespace {

// The time the buffer sees; tests move it.
timeval fakeNow;
void FakeClock(timeval* tv) { *tv = fakeNow; }

// A local time, as the file names and prefixes use local time.
time_t At(int year, int month, int day, int hour, int minute, int second) {
  tm t{second, minute, hour, day, month - 1, year - 1900, 0, 0, -1, 0, nullptr};
  return std::mktime(&t);
}

void SetNow(time_t secs, long usec) {
  fakeNow.tv_sec = secs;
  fakeNow.tv_usec = usec;
}

class LogFileTest : public ::testing::Test {
 protected:
  std::string File(const char* stamp) { return root.dir() + "/" + stamp + ".log"; }
  TempRoot root;
};

TEST_F(LogFileTest, LinesArePrefixedOnceEvenWhenWrittenInPieces) {
  SetNow(At(2025, 4, 28, 20, 12, 5), 42);
  {
    LogFileStreamBuf buf(root.dir(), FakeClock);
    EXPECT_EQ(buf.fileName(), File("2025_04_28-20"));
    std::ostream os(&buf);
    os << "first piece, " << std::flush;
    SetNow(At(2025, 4, 28, 20, 12, 6), 7);
    os << "second piece" << std::endl;
    os << "a line much longer than the sixteen characters of the area" << std::endl;
    os << "x\ny\n" << std::flush;
  }
  EXPECT_EQ(testproc::ReadFile(File("2025_04_28-20")),
            "12:05:00042: first piece, second piece\n"
            "12:06:00007: a line much longer than the sixteen characters of the area\n"
            "12:06:00007: x\n"
            "12:06:00007: y\n");
}

// A restart within the hour appends; a change of hour or of date starts a
// new file.
TEST_F(LogFileTest, AppendsWithinTheHourAndStartsANewFileForEachHourAndDate) {
  SetNow(At(2025, 4, 28, 20, 10, 0), 1);
  {
    LogFileStreamBuf buf(root.dir(), FakeClock);
    std::ostream(&buf) << "before the crash" << std::endl;
  }
  SetNow(At(2025, 4, 28, 20, 59, 59), 2);
  {
    LogFileStreamBuf buf(root.dir(), FakeClock);
    std::ostream os(&buf);
    os << "after the restart" << std::endl;
    SetNow(At(2025, 4, 28, 21, 0, 0), 0);
    os << "next hour" << std::endl;
    EXPECT_EQ(buf.fileName(), File("2025_04_28-21"));
    SetNow(At(2025, 4, 29, 21, 0, 1), 0);
    os << "same hour, next day" << std::endl;
  }
  EXPECT_EQ(testproc::ReadFile(File("2025_04_28-20")), "10:00:00001: before the crash\n59:59:00002: after the restart\n");
  EXPECT_EQ(testproc::ReadFile(File("2025_04_28-21")), "00:00:00000: next hour\n");
  EXPECT_EQ(testproc::ReadFile(File("2025_04_29-21")), "00:01:00000: same hour, next day\n");
}

TEST_F(LogFileTest, MissingDirectoryLosesTextQuietly) {
  SetNow(At(2025, 4, 28, 20, 10, 0), 1);
  LogFileStreamBuf buf(root.dir() + "/missing", FakeClock);
  std::ostream os(&buf);
  os << "nowhere" << std::endl;
  EXPECT_TRUE(os.good());
  EXPECT_FALSE(std::filesystem::exists(root.dir() + "/missing"));
}

}  // namespace
