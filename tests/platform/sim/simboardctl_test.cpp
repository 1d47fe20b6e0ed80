// simboardctl runs as its own process while this test serves the board
// from its loop.
#include <gtest/gtest.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstdlib>
#include <fstream>
#include <sstream>
#include <string>
#include <vector>

#include "tests/sim_board_fixture.h"

namespace {

class SimboardctlTest : public hwtest::SimBoardTest {
 protected:
  void SetUp() override {
    hwtest::SimBoardTest::SetUp();
    ASSERT_TRUE(board().listen());
  }
  void TearDown() override {
    board().close_control();
    hwtest::SimBoardTest::TearDown();
  }
  // Runs simboardctl with the words; its exit status, and what it printed.
  int ctl(const std::string& words, std::string& out) {
    const char* src = std::getenv("KORVEND_SOURCE");
    const std::string tool = std::string(src ? src : "..") + "/tools/simboardctl";
    const std::string file = root_.dir() + "/ctl.out";
    const pid_t pid = ::fork();
    if (pid == 0) {
      const std::string cmd = "exec python3 " + tool + " --root " + root_.dir() + " " + words + " >" + file + " 2>&1";
      ::execlp("sh", "sh", "-c", cmd.c_str(), static_cast<char*>(nullptr));
      ::_exit(127);
    }
    int status = -1;
    for (int i = 0; i < 1000; ++i) {  // the board answers from this loop
      multiplexer.run_once(10);
      if (::waitpid(pid, &status, WNOHANG) == pid) break;
    }
    std::ifstream f(file);
    std::stringstream s;
    s << f.rdbuf();
    out = s.str();
    return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
  }
};

// Words are sent as one request line; a refusal is exit status 1.
TEST_F(SimboardctlTest, SendsTheWordsAsOneRequestAndPrintsTheReply) {
  std::string out;
  ASSERT_EQ(ctl("cable 0 1", out), 0) << out;
  ASSERT_EQ(ctl("matrix connect 8200 5", out), 0) << out;
  ASSERT_EQ(ctl("matrix 8200 8201", out), 0) << out;
  EXPECT_EQ(out, "8200 <- 5\n8201 undriven\n");
  EXPECT_EQ(ctl("mcc error 1024", out), 1);
  EXPECT_NE(out.find("channel 1024 is not in use"), std::string::npos) << out;
  EXPECT_EQ(board().execute("lines").lines[0], "trunk 0 cable 1");
}

}  // namespace
