#pragma once
// The simulated voice-processing DSP (the node sysroot::dsp).
//
// It keeps, per timeslot, the enabled feature bits with the id of each
// bit's latest enabling and what the configure requests set; answers the
// VAD parameter version (2 unless a test sets another); and delivers the
// events that tests inject. The board's journal records every request; the
// board's "fail" and "refuse-open" commands refuse them. Control commands:
// "dsp" (see `simboardctl help`).
#include <cstdint>
#include <map>
#include <memory>
#include <string>

#include "hardware/dsp_records.h"
#include "platform/sim/board.h"

namespace sim {

class DspModel {
 public:
  struct ToneFilter {
    std::uint8_t enable;
    std::uint16_t dur_th_msec;
    std::int8_t det_lvl_dB;
  };
  struct Timeslot {
    std::uint32_t enabled = 0;                // feature bits on
    std::map<std::uint32_t, std::uint32_t> ids;  // feature bit -> id of its latest enabling
    bool vadConfigured = false;
    Hardware::dsproc::dsproc_configure vad{};  // as the last VAD configure gave it
    bool sdConfigured = false;
    bool delaysConfigured = false;
    Hardware::dsproc::delay_params delays{};
    bool gainConfigured = false;
    std::int8_t gain_dB = 0;
    std::map<std::uint16_t, ToneFilter> filters;  // by frequency
    std::uint32_t id(std::uint32_t bit) const {
      auto it = ids.find(bit);
      return it == ids.end() ? 0 : it->second;
    }
  };

  // The driver's state, shared by every open and kept when the model is
  // registered again.
  struct State {
    int vadVersion = Hardware::dsproc::VAD_VERSION_2;
    std::map<std::uint32_t, Timeslot> timeslots;
    void reset() { *this = State(); }
  };
  static State& state();

  // Registers the model and its control commands.
  static void install(Board& board);
};

}  // namespace sim
