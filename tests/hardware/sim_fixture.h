#pragma once
// Receivers under test talk to the simulated board through the real device
// seam, and their events come through the real event loop: the fixture
// installs the tone and DSP models, points the seam at the board, clears the
// board's state and journal, and captures std::clog and std::cerr.
#include <gtest/gtest.h>

#include <cstdio>
#include <functional>
#include <iostream>
#include <sstream>
#include <string>
#include <vector>

#include "platform/drv.h"
#include "platform/sim/board.h"
#include "platform/sim/dsp_model.h"
#include "platform/sim/dtmf_model.h"
#include "runtime/multiplexer.h"
#include "tests/temp_root.h"

class SimBoardTest : public testing::Test {
 protected:
  void SetUp() override {
    ASSERT_TRUE(root_.ok());
    sim::DtmfModel::install(board());
    sim::DspModel::install(board());
    drv::install(&board());
    oldLog_ = std::clog.rdbuf(log_.rdbuf());
    oldErr_ = std::cerr.rdbuf(err_.rdbuf());
    // Whatever an earlier test left queued goes first.
    for (int i = 0; i < 3; ++i) multiplexer.run_once(0);
    sim::DtmfModel::state().reset();
    sim::DspModel::state().reset();
    board().clear_journal();
    log_.str("");
    err_.str("");
  }
  void TearDown() override {
    std::clog.rdbuf(oldLog_);
    std::cerr.rdbuf(oldErr_);
    sim::DtmfModel::state().reset();
    sim::DspModel::state().reset();
    drv::install(nullptr);
  }

  static sim::Board& board() { return sim::Board::instance(); }

  // Runs a board control command; fails the test when the board refuses it.
  std::vector<std::string> command(const std::string& line) {
    sim::Board::Reply r = board().execute(line);
    EXPECT_EQ(r.error, "") << line;
    return r.lines;
  }

  // Runs loop passes until done() holds (at most about two seconds).
  static bool pump(const std::function<bool()>& done) {
    for (int i = 0; i < 200; ++i) {
      if (done()) return true;
      multiplexer.run_once(10);
    }
    return done();
  }
  // A few passes for what should not happen.
  static void settle() {
    for (int i = 0; i < 5; ++i) multiplexer.run_once(2);
  }

  // The journal line of a request with a record, as the board writes it.
  template <class T>
  static std::string recLine(const char* path, unsigned long code, const T& rec, const std::string& result = "0") {
    char text[16];
    std::snprintf(text, sizeof text, "0x%08lX", code);
    std::string line = std::string("ioctl ") + path + " " + text + " rec=";
    const auto* p = reinterpret_cast<const unsigned char*>(&rec);
    for (std::size_t i = 0; i < sizeof rec; ++i) {
      std::snprintf(text, sizeof text, i ? " %02X" : "%02X", p[i]);
      line += text;
    }
    return line + " -> " + result;
  }
  static std::string valLine(const char* path, unsigned long code, unsigned long value,
                             const std::string& result = "0") {
    char text[16];
    std::snprintf(text, sizeof text, "0x%08lX", code);
    return std::string("ioctl ") + path + " " + text + " val=" + std::to_string(value) + " -> " + result;
  }

  const std::vector<std::string>& journal() { return board().journal(); }
  std::string log() const { return log_.str(); }
  std::string err() const { return err_.str(); }

  TempRoot root_;
  std::ostringstream log_;
  std::ostringstream err_;

 private:
  std::streambuf* oldLog_ = nullptr;
  std::streambuf* oldErr_ = nullptr;
};

inline bool contains(const std::string& text, const std::string& part) { return text.find(part) != std::string::npos; }

// Whether some line of text begins with head and ends with tail.
inline bool hasLine(const std::string& text, const std::string& head, const std::string& tail) {
  std::istringstream lines(text);
  for (std::string line; std::getline(lines, line);)
    if (line.size() >= head.size() + tail.size() && line.compare(0, head.size(), head) == 0 &&
        line.compare(line.size() - tail.size(), tail.size(), tail) == 0)
      return true;
  return false;
}
