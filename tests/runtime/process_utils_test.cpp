#include <fcntl.h>
#include <gtest/gtest.h>
#include <signal.h>
#include <stdlib.h>
#include <sys/prctl.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstring>
#include <filesystem>
#include <fstream>
#include <sstream>

#include "platform/sysroot.h"
#include "runtime/console.h"
#include "runtime/linux_run.h"
#include "runtime/proc_lookup.h"
#include "runtime/timestamp.h"
#include "tests/runtime/syslog_receiver.h"
#include "tests/runtime/test_process.h"
#include "tests/temp_root.h"

namespace {

// The pid file holds only the digits, over any stale content; the first
// run to end removes it; one that could not be made is left alone.
TEST(PidFile, HoldsOnlyTheDigitsAndTheFirstRunToEndRemovesIt) {
  TempRoot root;
  ASSERT_TRUE(root.ok());
  { EXPECT_FALSE(Linux::Run("server").created()); }  // var/run is missing
  const std::string dir = sysroot::path(sysroot::run_dir);
  std::filesystem::create_directories(dir);
  const std::string file = dir + "server.pid";
  { std::ofstream(file) << "stale content that is longer"; }
  auto first = std::make_unique<Linux::Run>("server");
  EXPECT_TRUE(first->created());
  EXPECT_EQ(first->path(), file);
  {
    Linux::Run second("server");
    EXPECT_EQ(testproc::ReadFile(file), std::to_string(::getpid()));
    first.reset();
    EXPECT_FALSE(std::filesystem::exists(file));
  }
}

// A child that names itself and waits to be killed.
pid_t namedChild(const char* name) {
  int p[2];
  if (::pipe(p) != 0) return -1;
  pid_t pid = ::fork();
  if (pid == 0) {
    ::prctl(PR_SET_NAME, name);
    ::close(p[0]);
    (void)!::write(p[1], "r", 1);
    ::pause();
    ::_exit(0);
  }
  ::close(p[1]);
  char c;
  (void)!::read(p[0], &c, 1);
  ::close(p[0]);
  return pid;
}

TEST(FindProcByName, FindsByCommandNameEvenWithParenthesesInItAndIgnoresAWrongHint) {
  pid_t child = namedChild("kv)find (x)");
  ASSERT_GT(child, 0);
  EXPECT_EQ(find_proc_by_name("kv)find (x)", 0), child);
  EXPECT_EQ(find_proc_by_name("kv)find (x)", child), child);
  EXPECT_EQ(find_proc_by_name("kv)find (x)", ::getpid()), child);
  EXPECT_EQ(find_proc_by_name("kv)find", 0), -1);
  ::kill(child, SIGKILL);
  ::waitpid(child, nullptr, 0);
  EXPECT_EQ(find_proc_by_name("kv)find (x)", child), -1);
}

TEST(Timestamp, DayMonthAndTime) {
  std::ostringstream s;
  timestamp(s);
  EXPECT_TRUE(testlog::Fits(s.str(), "99/99 99:99:99")) << s.str();
}

TEST(Console, ReportsWhenStandardInputIsNoTerminal) {
  int saved = ::dup(0);
  int devnull = ::open(sysroot::path(sysroot::dev_null).c_str(), O_RDONLY);
  ASSERT_GE(devnull, 0);
  ::dup2(devnull, 0);
  testing::internal::CaptureStderr();
  Console::SwitchToBinaryMode();
  Console::SwitchToNonBlockMode();
  const std::string err = testing::internal::GetCapturedStderr();
  ::dup2(saved, 0);
  ::close(saved);
  ::close(devnull);
  EXPECT_EQ(err.rfind("can't obtain terminal attributes\n", 0), 0u) << err;
}

}  // namespace
