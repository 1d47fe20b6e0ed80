#pragma once
// The simulated tone processor (the node sysroot::dtmf).
//
// It keeps, per timeslot, what the requests set (detector configuration,
// enabling and its id, echo canceller, DTMF rejection, IVA, the generator's
// history with loop-clock time stamps, the last SELCAL dialled) and delivers
// detector events that tests inject. The board's journal records every
// request; the board's "fail" and "refuse-open" commands refuse them. Control
// commands: "dtmf" (see `simboardctl help`).
#include <cstdint>
#include <map>
#include <string>
#include <vector>

#include "hardware/tone_records.h"
#include "platform/sim/board.h"

namespace sim {

class DtmfModel {
 public:
  struct Tone {
    std::uint32_t at;  // loop clock, ms
    std::uint16_t freq1, freq2, amp1, amp2;
  };
  struct Timeslot {
    bool configured = false;
    Hardware::tonec::dtmf_detector_config config{};
    bool detector = false;
    std::uint32_t id = 0;  // of the latest enabling
    bool lms = false;
    bool reject = false;
    bool iva = false;
    bool ivaConfigured = false;
    std::int32_t ivaLevel = 0;
    std::vector<Tone> tones;  // every generator request, oldest first
    std::string selcal;       // the signs of the last SELCAL dialled
    std::uint16_t selcalAmp = 0;
  };

  // The driver's state, shared by every open and kept when the model is
  // registered again.
  struct State {
    std::map<std::uint32_t, Timeslot> timeslots;
    void reset() { timeslots.clear(); }
  };
  static State& state();

  // Registers the model and its control commands.
  static void install(Board& board);
};

}  // namespace sim
