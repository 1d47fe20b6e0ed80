#pragma once
// The simulated voice driver (the node sysroot::voice): the DSP channel
// count it answers for each codec kind, and its five-word version record,
// both as a test sets them; a count request of one kind can be refused on
// its own (the board's "fail" refuses every kind at once). Control command:
// "voice" (see `simboardctl help`).
#include <cstdint>
#include <map>

#include "platform/sim/board.h"
#include "platform/voice_records.h"

namespace sim {

class VoiceModel {
 public:
  struct Kind {
    std::int32_t count = 0;
    int fail = 0;  // errno refusing the kind's count requests; 0: none
  };
  // The driver's state, shared by every open. A kind never set counts 0.
  struct State {
    std::map<std::uint32_t, Kind> kinds;
    voicedrv::Version version{};
    void reset() { *this = State(); }
  };
  static State& state();

  // Registers the model and its control command.
  static void install(Board& board);
};

}  // namespace sim
