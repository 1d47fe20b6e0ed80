#pragma once
// Signalling slots on the simulated board, trunks 0 and 1 cabled together,
// the loop clock under the test's hand: frames cross the line as the clock
// is run.
#include <string>
#include <vector>

#include "platform/sim/mcc_model.h"
#include "runtime/multiplexer.h"
#include "runtime/traces.h"
#include "slots/isdn_slot.h"
#include "slots/pstn_slot.h"
#include "tests/slots/slots_fixture.h"

namespace slotstest {

class SignallingTest : public SlotsTest {
 protected:
  void SetUp() override {
    SlotsTest::SetUp();
    // Built by the process entry in the daemon.
    PstnFactory::instance();
    IsdnFactory::instance();
    sim::Mcc::instance().reset_settings();
    traces.signalling_isdn = false;
    command("cable 0 1");
  }
  void TearDown() override {
    traces.signalling_isdn = false;
    SlotsTest::TearDown();
  }

  // Runs the loop for ms of its clock, a millisecond at a time, and returns
  // what the controller received meanwhile.
  std::vector<std::string> during(unsigned ms) {
    for (unsigned i = 0; i < ms; ++i) {
      clock.advance(1);
      multiplexer.run_once(0);
      multiplexer.run_once(0);
    }
    return drain();
  }

  // The MCC driver modes allocated so far, as the board noted them.
  static std::vector<int> allocations() {
    std::vector<int> modes;
    const std::string mark = "(allocate mode ";
    for (const std::string& l : journal()) {
      const std::size_t at = l.find(mark);
      if (at != std::string::npos) modes.push_back(std::stoi(l.substr(at + mark.size())));
    }
    return modes;
  }
  // The frames the daemon wrote on an MCC channel, a line of hex each.
  static std::vector<std::string> written(int channel) { return command("mcc written " + std::to_string(channel)); }

  // The messages of one slot among those received, in order.
  static std::vector<std::string> of(int slot, const std::vector<std::string>& messages) {
    std::vector<std::string> mine;
    const std::string tag = "slot " + std::to_string(slot) + ",";
    for (const std::string& m : messages)
      if (contains(m, tag)) mine.push_back(m);
    return mine;
  }
  // Each message shortened to its kind: "activated", "ioctl : isdnLinkInfo", ...
  static std::vector<std::string> kinds(const std::vector<std::string>& messages) {
    std::vector<std::string> out;
    for (const std::string& m : messages) {
      std::size_t at = m.find("pdu signal : ");
      if (at == std::string::npos) {
        out.push_back(m);
        continue;
      }
      at += 13;
      std::size_t end = m.find(" : ", at);
      std::string kind = m.substr(at, end - at);
      if (kind == "ioctl") kind += " : " + m.substr(end + 3, m.find(" : ", end + 3) - end - 3);
      out.push_back(kind);
    }
    return out;
  }
};

// The value notation of a signal.
inline std::string signal(int slot, const std::string& body) {
  return "{ slot " + std::to_string(slot) + ", pdu signal : " + body + " }";
}

}  // namespace slotstest
