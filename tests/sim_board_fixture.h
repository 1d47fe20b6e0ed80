#pragma once
// The simulated board behind the device seam for a test, under a fresh root:
// its models installed, the TDM fabric at power-on, the journal empty, and
// std::clog / std::cerr captured.
#include <gtest/gtest.h>
#include <signal.h>

#include <cstdio>
#include <iostream>
#include <sstream>
#include <string>
#include <vector>

#include "platform/drv.h"
#include "platform/sim/board.h"
#include "platform/sim/tdm.h"
#include "platform/sysroot.h"
#include "runtime/multiplexer.h"
#include "tests/temp_root.h"

namespace hwtest {

// Redirects a standard stream into a string for the life of the object.
class Capture {
 public:
  explicit Capture(std::ostream& s) : stream_(s), old_(s.rdbuf(text_.rdbuf())) {}
  ~Capture() { stream_.rdbuf(old_); }
  Capture(const Capture&) = delete;
  Capture& operator=(const Capture&) = delete;
  std::string take() {
    std::string t = text_.str();
    text_.str("");
    return t;
  }

 private:
  std::ostringstream text_;
  std::ostream& stream_;
  std::streambuf* old_;
};

// A record's octets as the journal shows them (memory order: the build's own).
template <class Record>
std::string hex(const Record& rec) {
  std::string text;
  const auto* p = reinterpret_cast<const unsigned char*>(&rec);
  char pair[4];
  for (std::size_t i = 0; i < sizeof rec; ++i) {
    std::snprintf(pair, sizeof pair, i ? " %02X" : "%02X", p[i]);
    text += pair;
  }
  return text;
}

class SimBoardTest : public testing::Test {
 protected:
  void SetUp() override {
    ASSERT_TRUE(root_.ok());
    // A write to a descriptor whose far end the board has closed must fail
    // with EPIPE, as in the daemon (which catches SIGPIPE), not end the test.
    oldPipe_ = ::signal(SIGPIPE, SIG_IGN);
    sim::install_models(board());
    sim::Tdm::instance().reset();
    board().clear_journal();
    drv::install(&board());
  }
  void TearDown() override {
    drv::install(nullptr);
    for (int i = 0; i < 3; ++i) multiplexer.run_once(0);  // let closed devices go
    board().execute("refuse-open hal off");
    board().execute("refuse-open mcc/ctl off");
    board().execute("fail clear");
    ::signal(SIGPIPE, oldPipe_);
  }
  static sim::Board& board() { return sim::Board::instance(); }
  static sim::Tdm& tdm() { return sim::Tdm::instance(); }
  // Runs a control command; fails the test when the board refuses it.
  static std::vector<std::string> command(const std::string& line) {
    sim::Board::Reply r = board().execute(line);
    EXPECT_EQ(r.error, "") << line;
    return r.lines;
  }

  TempRoot root_;
  Capture clog_{std::clog};
  Capture cerr_{std::cerr};

 private:
  sighandler_t oldPipe_ = SIG_DFL;
};

}  // namespace hwtest
