// The daemon watches for ended children from its first pass: the watch is
// in the handler table of the status dump, and it is what keeps the board's
// build polling when nothing else is registered.
#include <gtest/gtest.h>
#include <unistd.h>

#include <chrono>
#include <cstdlib>
#include <filesystem>
#include <string>
#include <vector>

#include "platform/sysroot.h"
#include "tests/e2e/daemon_harness.h"

namespace {

using e2e::Daemon;
using e2e::Root;

const char* const kChildWatchRow = "|     ChildWaitService::OnChildEvent     |            POLLIN            |";

// Asks for status dumps until a complete one lists the child watch, and
// returns it (empty if none did). A dump taken in the loop's first pass,
// before its first poll, has no handler in its table yet.
std::string dumpWithChildWatch(const Daemon& d, const std::string& path) {
  const std::string end = "+\n\n\n";
  std::string text;
  const bool found = e2e::waitFor([&] {
    text = e2e::readFile(path);
    const bool complete = text.size() > end.size() && text.compare(text.size() - end.size(), end.size(), end) == 0;
    if (complete && text.find(kChildWatchRow) != std::string::npos) return true;
    d.signal(SIGUSR2);
    return false;
  });
  return found ? text : std::string();
}

TEST(ChildWatch, SimulatedBoardDumpListsTheChildWatch) {
  Root root;
  Daemon d(e2e::simBinary(), root.dir(), {"--port", std::to_string(e2e::freePort())}, root.dir());
  ASSERT_TRUE(e2e::waitFor([&] { return !d.out().empty(); })) << d.err();
  const std::string dump = root.path(sysroot::status_dump);
  EXPECT_NE(dumpWithChildWatch(d, dump), "") << e2e::readFile(dump) << d.err();
  d.signal(SIGTERM);
  EXPECT_EQ(d.exitCode(), 0);
}

// The board's build uses the board's own paths. It runs in a private mount
// namespace with empty file systems over its run and log directories, so
// the host's are never touched; its dump is read through its own root.
TEST(ChildWatch, BoardBuildWithoutRootRunsUntilSigtermWithTheChildWatchAsItsOnlyHandler) {
  if (::geteuid() != 0) GTEST_SKIP() << "a private mount namespace needs root";
  if (std::system("unshare -m --propagation private true >/dev/null 2>&1") != 0)
    GTEST_SKIP() << "no mount namespace here";
  std::error_code ec;
  const std::filesystem::path statusDump(sysroot::status_dump);
  const std::string logDir = std::filesystem::canonical(statusDump.parent_path(), ec).string();
  const std::string runDir = std::filesystem::canonical(sysroot::run_dir, ec).string();
  ASSERT_FALSE(ec) << "the host lacks the board's run or log directory";

  Root scratch;  // only for the daemon's captured streams
  std::vector<std::string> argv = {"unshare", "-m", "--propagation", "private", "sh", "-c",
                                   "mount -t tmpfs kv \"$1\" && mount -t tmpfs kv \"$2\" && shift 2 && exec \"$@\"",
                                   "sh", logDir, runDir};
  for (const auto& a : e2e::programArgv(e2e::boardBinary(), {"--port", std::to_string(e2e::freePort())}))
    argv.push_back(a);
  Daemon d(argv, "", scratch.dir());
  ASSERT_TRUE(e2e::waitFor([&] { return !d.out().empty(); })) << d.err();
  ASSERT_EQ(d.out().rfind("Starting server [", 0), 0u) << d.out() << d.err();

  const std::string dump = std::string(sysroot::proc_dir) + "/" + std::to_string(d.pid()) + "/" + "root" + logDir + "/" +
                           statusDump.filename().string();
  const std::string text = dumpWithChildWatch(d, dump);
  ASSERT_NE(text, "") << e2e::readFile(dump) << d.err();
  EXPECT_EQ(e2e::count(text, "| attached |"), 1u) << text;
  EXPECT_EQ(d.wait(std::chrono::milliseconds(0)), -1) << "ended before SIGTERM";

  d.signal(SIGTERM);
  EXPECT_EQ(d.exitCode(), 0) << d.err();
  EXPECT_NE(d.err().find("Mux: terminating...\n"), std::string::npos) << d.err();
  EXPECT_EQ(d.err().find("system hang detected"), std::string::npos) << d.err();
}

}  // namespace
