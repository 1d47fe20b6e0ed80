#pragma once
// The simulated mixer driver (the node sysroot::mixer): the board's mixer
// devices, each with its TDM channels tied to matrix timeslots and, per
// summator channel, the channels it adds up with their weights.
//
// At power-on the board has device 0 with 32 channels and room for 64
// summed inputs. Tests add devices, make one disappear and read a sum with
// the "mixer" command (see `simboardctl help`); the board's "fail" and
// "refuse-open" refuse requests and opens. The driver itself refuses what a
// driver would: an unknown device (ENODEV), a channel outside the device or
// of another type, a sum across devices, a weight outside 0..32767 (EINVAL),
// an input more than the device has room for (ENOSPC), a record of the
// wrong size (EFAULT). Removing an input that is not summed changes nothing
// and is no error.
#include <cstddef>
#include <cstdint>
#include <map>
#include <string>

#include "platform/sim/board.h"

namespace sim {

class MixerModel {
 public:
  // The mixer channels' timeslots lie here, clear of the trunk, controller
  // and bus channels of the matrix.
  static constexpr int first_timeslot = 6144;
  static constexpr int last_timeslot = 8191;
  static constexpr std::int32_t max_weight = 32767;

  struct Unit {
    std::int32_t tdm = 0;     // channels 0..tdm-1
    std::int32_t inputs = 0;  // summed inputs it holds at once, over all summators
    int first = 0;            // the timeslot of channel 0
    // summator -> {channel -> weight}
    std::map<std::int32_t, std::map<std::int32_t, std::int32_t>> sums;
    std::size_t summed() const;
  };
  // The driver's state, shared by every open.
  struct State {
    std::map<std::int32_t, Unit> units;  // present devices, by number
    // The timeslots a device number was given, kept when it disappears so
    // that it comes back on the same ones.
    std::map<std::int32_t, std::pair<int, std::int32_t>> placed;  // dev_no -> {first, tdm}
    int nextTimeslot = first_timeslot;
    State();  // power-on: device 0
    void reset() { *this = State(); }
    // A new device; false, with the reason, when it cannot be.
    bool add(std::int32_t dev, std::int32_t tdm, std::int32_t inputs, std::string& why);
  };
  static State& state();

  // "{1: 16384, 3: 32767}": what a summator adds up.
  static std::string describe_sum(const Unit& unit, std::int32_t summator);

  // Registers the model and its control command.
  static void install(Board& board);
};

}  // namespace sim
