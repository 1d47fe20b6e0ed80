#pragma once
// The slot registry bound to a controller session on the simulated board,
// with a TCP controller on the loopback, messages in value notation. The
// loop clock is the test clock. Every slot the test leaves is destroyed
// with the controller at the end.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "slots/map_slot.h"
#include "slots/slots.h"
#include "tests/hardware/service_fixture.h"
#include "tests/slots/probe_slot.h"

namespace slotstest {

using hwtest::contains;

class SlotsTest : public hwtest::ServiceTest {
 protected:
  void SetUp() override {
    hwtest::ServiceTest::SetUp();
    ProbeSlot::journal().clear();
    MapFactory::instance();  // built by the process entry in the daemon
    connect(Slots::instance());
    clog_.take();
    cerr_.take();
  }
  void TearDown() override {
    hwtest::ServiceTest::TearDown();
    EXPECT_TRUE(Slots::instance().slots().empty());
  }

  // Sends a command: its answer and the signals around it, in order.
  std::vector<std::string> exchange(const std::string& valueNotation) {
    std::vector<std::string> out = request(valueNotation);
    for (const std::string& more : drain()) out.push_back(more);
    return out;
  }
  // Sends a command that is not answered now: what arrives meanwhile.
  std::vector<std::string> unanswered(const std::string& valueNotation) {
    controller.send(linktest::tpkt(linktest::encode(valueNotation)));
    return drain();
  }
  // The answer alone, for commands that send nothing else.
  std::string answer(const std::string& valueNotation) {
    const std::vector<std::string> out = exchange(valueNotation);
    return out.size() == 1 ? out[0] : "(" + std::to_string(out.size()) + " messages)";
  }

  static Slot* at(unsigned n) { return Slots::instance().slot(n); }
  static ProbeSlot* probe(unsigned n) { return dynamic_cast<ProbeSlot*>(at(n)); }
  // What drives an output of the matrix, as the board tells it.
  static std::string matrix(int channel) { return command("matrix " + std::to_string(channel)).at(0); }
};

// The value notation of messages the tests expect.
inline std::string success(int seq, int slot) {
  return "{ seq " + std::to_string(seq) + ", slot " + std::to_string(slot) + ", pdu response : success : NULL }";
}
inline std::string error(int seq, int slot, const std::string& cause) {
  return "{ seq " + std::to_string(seq) + ", slot " + std::to_string(slot) + ", pdu response : error : " + cause +
         " }";
}
inline std::string stream(int slot, const std::string& which, int channel) {
  return "{ slot " + std::to_string(slot) + ", pdu signal : " + which + " : active : " + std::to_string(channel) +
         " }";
}
inline std::string inactive(int slot, const std::string& which) {
  return "{ slot " + std::to_string(slot) + ", pdu signal : " + which + " : inactive : NULL }";
}
inline std::string create(int seq, int slot, const std::string& params) {
  return "{ seq " + std::to_string(seq) + ", slot " + std::to_string(slot) + ", pdu command : create : " + params +
         " }";
}
inline std::string cmd(int seq, int slot, const std::string& body) {
  return "{ seq " + std::to_string(seq) + ", slot " + std::to_string(slot) + ", pdu command : " + body + " }";
}

}  // namespace slotstest
