// The board's build runs: it watches for ended children from its first pass
// (the watch is what keeps it polling when nothing else is registered) and
// listens for the controller. The simulated build's dump is checked with the
// other signals.
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

// The board's build uses the board's own paths. It runs in a private mount
// namespace with empty file systems over its run and log directories, so
// the host's are never touched; its dump is read through its own root.
TEST(ChildWatch, BoardBuildWithoutRootRunsUntilSigtermWithTheChildWatchAndTheControllerListener) {
  if (::geteuid() != 0) GTEST_SKIP() << testkit::refused("private mount and network namespaces need root");
  if (std::system("unshare -m -n --propagation private true >/dev/null 2>&1") != 0)
    GTEST_SKIP() << testkit::refused("no mount and network namespace here");
  std::error_code ec;
  const std::filesystem::path statusDump(sysroot::status_dump);
  const std::string logDir = std::filesystem::canonical(statusDump.parent_path(), ec).string();
  const std::string runDir = std::filesystem::canonical(sysroot::run_dir, ec).string();
  ASSERT_FALSE(ec) << "the host lacks the board's run or log directory";

  Root scratch;  // only for the daemon's captured streams
  // A network namespace of its own too: the modem authentication server's
  // fixed port is its own there.
  std::vector<std::string> argv = {
      "unshare", "-m", "-n", "--propagation", "private", "sh", "-c",
      "ip link set lo up && mount -t tmpfs kv \"$1\" && mount -t tmpfs kv \"$2\" && shift 2 && exec \"$@\"",
      "sh", logDir, runDir};
  for (const auto& a : e2e::programArgv(e2e::boardBinary(), {"--port", std::to_string(e2e::freePort())}))
    argv.push_back(a);
  Daemon d(argv, "", scratch.dir());
  ASSERT_TRUE(e2e::waitFor([&] { return !d.out().empty(); })) << d.err();
  ASSERT_EQ(d.out().rfind("Starting server [", 0), 0u) << d.out() << d.err();

  const std::string dump = std::string(sysroot::proc_dir) + "/" + std::to_string(d.pid()) + "/" + "root" + logDir + "/" +
                           statusDump.filename().string();
  const std::string text =
      e2e::statusDumpWith(d, dump, "|     ChildWaitService::OnChildEvent     |            POLLIN            |");
  ASSERT_NE(text, "") << e2e::readFile(dump) << d.err();
  EXPECT_EQ(e2e::count(text, "| attached |"), 3u) << text;
  EXPECT_NE(text.find("|      ModemFactory::OnSocketEvent       |            POLLIN            |"), std::string::npos)
      << text;
  EXPECT_NE(text.find("|       AcceptorNet::OnSocketEvent       |            POLLIN            |"), std::string::npos)
      << text;
  EXPECT_EQ(d.wait(std::chrono::milliseconds(0)), -1) << "ended before SIGTERM";

  d.signal(SIGTERM);
  EXPECT_EQ(d.exitCode(), 0) << d.err();
  EXPECT_NE(d.err().find("Mux: terminating...\n"), std::string::npos) << d.err();
  EXPECT_EQ(d.err().find("system hang detected"), std::string::npos) << d.err();
}

}  // namespace
