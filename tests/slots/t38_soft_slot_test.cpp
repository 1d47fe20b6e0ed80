// Software T.38 slots on the simulated board: the channel each takes, the
// child program started for it (a stand-in, tests/slots/t38_standin.cpp,
// installed under the test's root), what its end tells the controller, and
// the instances the program reports.
#include "slots/t38_soft_slot.h"

#include <gtest/gtest.h>
#include <signal.h>
#include <stdlib.h>

#include <algorithm>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <string>
#include <vector>

#include "platform/mcc_records.h"
#include "runtime/child_wait.h"
#include "runtime/ipc_signal.h"
#include "slots/t38_soft_factory.h"
#include "tests/build_paths.h"
#include "tests/runtime/test_process.h"
#include "tests/slots/slots_fixture.h"

namespace {

using namespace slotstest;
using Lines = std::vector<std::string>;

std::string t38soft(const std::string& args, int rxSize = 160) {
  return "t38soft : { dhost { iaddr \"10.1.2.3\", port 5000 }, shost { iaddr \"0.0.0.0\", port 6000 }, "
         "rx-packet-size " +
         std::to_string(rxSize) + ", rx-threshold 1, tx-threshold 2, args { " + args + " } }";
}

// Children are watched (and reaped) only while a test runs.
class T38Soft : public SlotsTest {
 protected:
  void SetUp() override {
    T38SoftFactory::instance();  // built by the process entry in the daemon
    SlotsTest::SetUp();
    ChildWait::Activate();
    ::setenv("KORVEND_ROOT", root_.dir().c_str(), 1);  // where the stand-in keeps its records
  }
  void TearDown() override {
    SlotsTest::TearDown();
    ::unsetenv("KORVEND_ROOT");
    IPC::Signal::system(SIGCHLD);
    ChildWait::Cleanup();
    ChildWait::Initialize();
  }

  // Installs the stand-in as the program; false (the test skipped) where an
  // emulated process cannot start it.
  bool install() {
    if (testproc::Emulator()) return false;
    const std::string program = root_.path(sysroot::t38);
    root_.make_parent(sysroot::t38);
    std::filesystem::copy_file(testkit::buildDir() + "/tests/slots/t38-standin", program);
    std::filesystem::create_directories(records());
    return true;
  }
  std::string records() const { return root_.dir() + "/t38/"; }
  // The argv the stand-in recorded, one argument a line ("" before it has).
  std::string argvOf(int pid) const { return readText(records() + std::to_string(pid) + ".argv"); }
  static std::string readText(const std::string& path) {
    std::ifstream in(path);
    std::ostringstream text;
    text << in.rdbuf();
    return text.str();
  }
  // The pid in the line "t38 daemon[PID] successfully started".
  int startedPid() const {
    const std::string mark = "t38soft: t38 daemon[";
    const std::size_t at = log().rfind(mark);
    return at == std::string::npos ? -1 : std::atoi(log().c_str() + at + mark.size());
  }
  std::string next() {
    std::vector<unsigned char> payload;
    return controller.frame(payload, std::chrono::seconds(5)) ? linktest::decode(payload) : std::string();
  }
  std::string query() {
    const Lines out = exchange("{ seq 90, pdu command : query : NULL }");
    return out.size() == 2 ? out[1] : "(" + std::to_string(out.size()) + " messages)";
  }
};

#define NEEDS_STANDIN() \
  if (!install()) GTEST_SKIP() << "qemu-user: an emulated process cannot start a program of the target"

TEST_F(T38Soft, DestroyEndsTheRunningProgramAndTellsTheControllerNothing) {
  NEEDS_STANDIN();
  ASSERT_EQ(exchange(create(1, 5, t38soft(""))).size(), 3u);
  const int pid = startedPid();
  ASSERT_GT(pid, 0) << log();
  ASSERT_TRUE(testkit::waitFor([&] { return !argvOf(pid).empty(); }));  // running, reading its input
  EXPECT_EQ(answer(cmd(2, 5, "destroy : NULL")), success(2, 5));
  const std::string ended =
      "terminate child process, pid=" + std::to_string(pid) + " status=" + std::to_string(SIGTERM);
  EXPECT_TRUE(pump([&] { return contains(log(), ended); })) << log();
  EXPECT_EQ(drain(), Lines{});
}

// The child cannot run the program: it ends with 1005, of which the wait
// status keeps the low octet. Its pid is then forgotten, so a destroy
// signals nothing.
TEST_F(T38Soft, AMissingProgramEndsTheChildWithCode237AndCountsNoInstance) {
  EXPECT_EQ(request(create(1, 5, t38soft("\"-x\""))), Lines{success(1, 5)});
  EXPECT_EQ(next(), stream(5, "transmitter", 1024));
  EXPECT_EQ(next(), stream(5, "receiver", 1024));
  EXPECT_EQ(next(), "{ slot 5, pdu signal : abort : " + std::to_string(237 << 8) + " }");
  EXPECT_TRUE(contains(log(), "05:t38 soft: t38 daemon terminated with code=237\n")) << log();
  const std::vector<std::string> j = journal();
  EXPECT_TRUE(std::any_of(j.begin(), j.end(),
                          [](const std::string& l) { return l.rfind("open /dev/mcc/ctl rdwr -> ", 0) == 0; }));
  EXPECT_NE(std::find(j.begin(), j.end(),
                      recLine(sysroot::mcc_ctl, MCC_ALLOCATE, mcc::MccAllocate{2, 160, 0, 1, 2}) +
                          " (allocate mode 2: channel 1024)"),
            j.end());
  EXPECT_TRUE(contains(log(), "t38soft: args for run t38 daemon:\nt38soft: arg[0]=" + std::string(sysroot::t38) +
                                  "\nt38soft: arg[1]=--child\nt38soft: arg[2]=--remote\n"
                                  "t38soft: arg[3]=10.1.2.3/5000/6000\nt38soft: arg[4]=-x\n"))
      << log();
  EXPECT_EQ(dynamic_cast<T38SoftSlot&>(*at(5)).child_pid(), -1);
  EXPECT_EQ(answer(cmd(2, 5, "destroy : NULL")), success(2, 5));
  EXPECT_TRUE(contains(query(), "t38-instances 0,"));
  EXPECT_TRUE(contains(log(), "t38soft: t38 daemon not found!\n")) << log();
}

TEST_F(T38Soft, AChannelTheDriverDoesNotGiveRefusesTheCreateWithTheErrno) {
  command("refuse-open mcc/ctl");
  EXPECT_EQ(answer(create(1, 5, t38soft(""))), error(1, 5, "insufficientResources"));
  command("refuse-open mcc/ctl off");
  EXPECT_TRUE(contains(err(), "t38soft: T38SoftFactory::INewSlot - FAIL to open </dev/mcc/ctl> [19]\n")) << err();
  command("fail mcc/ctl 40144D00 ENOSPC 1");
  EXPECT_EQ(answer(create(2, 5, t38soft(""))), error(2, 5, "insufficientResources"));
  EXPECT_TRUE(contains(err(), "t38soft: T38SoftFactory::INewSlot - FAIL to ioctl MCC_ALLOCATE [28]\n")) << err();
  command("fail mcc/ctl 20004D02 EINVAL 1");
  EXPECT_EQ(answer(create(3, 5, t38soft(""))), error(3, 5, "insufficientResources"));
  EXPECT_TRUE(contains(err(), "t38soft: T38SoftFactory::INewSlot - FAIL to ioctl MCC_TIMESLOT [22]\n")) << err();
  EXPECT_FALSE(contains(log(), "args for run t38 daemon")) << log();
  EXPECT_TRUE(command("mcc").empty());
}

}  // namespace
