#pragma once
// Requests and records of the mixer driver (sysroot::mixer) that the daemon
// and the simulated board share. Native structs in the processor's byte
// order (big-endian on the board); neither side swaps. Request codes are the
// board's own numbers (PowerPC encodings), written out literally.
//
// A mixer device has TDM channels, each tied to one timeslot of the
// switching matrix. Any channel can be a summator: it sends out the sum of
// the channels added to it, each with its own weight (32767 is unity).
#include <cstddef>
#include <cstdint>

// Adds tx to rx's sum with a weight (MixRx).
constexpr unsigned long MIX_RX_ADD = 0x801C4D03ul;
// Takes tx out of rx's sum (MixRx, weight not used).
constexpr unsigned long MIX_RX_REMOVE = 0x801C4D04ul;
// Takes every input out of a summator's sum (mix_slot).
constexpr unsigned long MIX_RX_CLEAR = 0x800C4D02ul;
// The result is the matrix timeslot of a channel (mix_slot); negative on
// failure.
constexpr unsigned long MIX_TDM = 0x800C4D06ul;
// Describes the next device (MixDevice, read and written): start with
// dev_no -1, then pass the record back as the driver left it. Fails after
// the last device.
constexpr unsigned long MIX_NEXT_DEVICE = 0x80104D07ul;

// One channel of a mixer device.
struct mix_slot {
  std::int32_t dev_no;
  std::int32_t type;  // always mix_slot_tdm
  std::int32_t number;
};
constexpr std::int32_t mix_slot_tdm = 0;

struct MixRx {
  mix_slot rx;  // the summator
  mix_slot tx;  // the channel added to it
  std::int32_t weight;
};

// Unity weight of a summed channel.
constexpr std::int32_t mix_unity = 32767;

struct MixDevice {
  std::int32_t dev_no;
  std::int32_t tdm_channels;
  std::int32_t reserved;
  std::int32_t mixer_inputs;
};

static_assert(sizeof(mix_slot) == 12 && offsetof(mix_slot, type) == 4 && offsetof(mix_slot, number) == 8,
              "mixer channel record");
static_assert(sizeof(MixRx) == 28 && offsetof(MixRx, tx) == 12 && offsetof(MixRx, weight) == 24,
              "mixer sum record");
static_assert(sizeof(MixDevice) == 16 && offsetof(MixDevice, tdm_channels) == 4 &&
                  offsetof(MixDevice, reserved) == 8 && offsetof(MixDevice, mixer_inputs) == 12,
              "mixer device record");
