#pragma once
// The simulated board behind the device seam for a test, under a fresh root:
// every model installed and at power-on (fabric, lines, tone processor, DSP,
// trunks, CAS, line chips, bus clock, mixer and voice drivers), no fault set, the journal empty, and
// std::clog / std::cerr captured. Events come through the real event loop,
// driven pass by pass with pump() and settle().
#include <gtest/gtest.h>
#include <signal.h>

#include <cstdio>
#include <functional>
#include <iostream>
#include <sstream>
#include <string>
#include <vector>

#include "platform/drv.h"
#include "platform/sim/board.h"
#include "platform/sim/cas_model.h"
#include "platform/sim/dsp_model.h"
#include "platform/sim/dtmf_model.h"
#include "platform/sim/front_panel.h"
#include "platform/sim/hal_model.h"
#include "platform/sim/maintenance_model.h"
#include "platform/sim/mctl_model.h"
#include "platform/sim/mixer_model.h"
#include "platform/sim/netif_model.h"
#include "platform/sim/rtp_ext_model.h"
#include "platform/sim/spi_model.h"
#include "platform/sim/tdm.h"
#include "platform/sim/voice_model.h"
#include "platform/sysroot.h"
#include "runtime/multiplexer.h"
#include "tests/stream_capture.h"
#include "tests/temp_root.h"

namespace hwtest {

using Capture = testkit::StreamCapture;

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

class SimBoardTest : public testing::Test {
 protected:
  void SetUp() override {
    ASSERT_TRUE(root_.ok());
    // A write to a descriptor whose far end the board has closed must fail
    // with EPIPE, as in the daemon (which catches SIGPIPE), not end the test.
    oldPipe_ = ::signal(SIGPIPE, SIG_IGN);
    sim::install_models(board());
    drv::install(&board());
    // Whatever an earlier test left queued goes first.
    for (int i = 0; i < 3; ++i) multiplexer.run_once(0);
    powerOn();
    clog_.take();
    cerr_.take();
  }
  void TearDown() override {
    drv::install(nullptr);
    for (int i = 0; i < 3; ++i) multiplexer.run_once(0);  // let closed devices go
    powerOn();
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
  static std::vector<std::string> journal() { return board().journal(); }
  // The journal as one text, a line each.
  static std::string journalText() {
    std::string text;
    for (const std::string& l : journal()) text += l + "\n";
    return text;
  }
  // The journal lines that hold part.
  static std::vector<std::string> journalWith(const std::string& part) {
    std::vector<std::string> out;
    for (const std::string& l : journal())
      if (contains(l, part)) out.push_back(l);
    return out;
  }
  // Whether some journal line begins with head.
  static bool journalHas(const std::string& head) {
    for (const std::string& l : journal())
      if (l.rfind(head, 0) == 0) return true;
    return false;
  }

  // Runs loop passes until done() holds (at most about two seconds).
  static bool pump(const std::function<bool()>& done) {
    for (int i = 0; i < 200; ++i) {
      if (done()) return true;
      multiplexer.run_once(10);
    }
    return done();
  }
  // A few passes, for what should not happen.
  static void settle() {
    for (int i = 0; i < 5; ++i) multiplexer.run_once(2);
  }

  // The journal line of a request with a record, or by value, as the board
  // writes it (without an annotation).
  template <class T>
  static std::string recLine(const char* path, unsigned long code, const T& rec, const std::string& result = "0") {
    return std::string("ioctl ") + path + " " + codeText(code) + " rec=" + hex(rec) + " -> " + result;
  }
  static std::string valLine(const char* path, unsigned long code, unsigned long value,
                             const std::string& result = "0") {
    return std::string("ioctl ") + path + " " + codeText(code) + " val=" + std::to_string(value) + " -> " + result;
  }

  // The streams' text so far.
  std::string log() const { return clog_.str(); }
  std::string err() const { return cerr_.str(); }

  TempRoot root_;
  Capture clog_{std::clog};
  Capture cerr_{std::cerr};

 private:
  static std::string codeText(unsigned long code) {
    char text[16];
    std::snprintf(text, sizeof text, "0x%08lX", code);
    return text;
  }
  // Every model's state as at power-on, no fault left, the journal empty.
  static void powerOn() {
    sim::Tdm::instance().reset();
    sim::DtmfModel::state().reset();
    sim::DspModel::state().reset();
    sim::MaintenanceModel::state().reset();
    sim::CasModel::state().reset();
    sim::SpiChips::instance().reset();
    sim::FrontPanel::instance().reset();
    sim::MixerModel::state().reset();
    sim::VoiceModel::state().reset();
    sim::RtpExtModel::state().reset();
    sim::reset_bus_clock();
    sim::MctlModel::state().reset();
    sim::NetifModel::state().reset();
    for (const char* device :
         {"hal", "mcc/ctl", "dtmf", "dsp", "maintenance", "e1-cas", "mixer", "voice", "rtp", "rtp_ext", "mctl"})
      board().execute(std::string("refuse-open ") + device + " off");
    board().execute("fail clear");
    board().clear_journal();
  }

  sighandler_t oldPipe_ = SIG_DFL;
};

}  // namespace hwtest
