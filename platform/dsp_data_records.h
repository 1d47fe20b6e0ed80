#pragma once
// Requests and records of the DSP data driver "/dev/dsp-data" (the D and B
// channels of an ATS-QSIG link) that the daemon and the simulated board
// share: native byte order on both sides, request codes as the board's own
// numbers.
//
// Each open of the node is one data unit: a D channel that carries whole
// frames (one write is one frame, one read one received frame) and B
// channels opened by index on the same descriptor.
#include <cstddef>
#include <cstdint>

namespace dspdata {

// By value, argument 0: the D channel's TDM channel as the result, negative
// on failure.
constexpr unsigned long d_channel = 0x40044211ul;
// BChannel: opens B channel `index` (0..2); goes in with channel -1 and
// comes back with the B channel's TDM channel.
constexpr unsigned long b_open = 0x8008420Ful;
// BChannel: releases B channel `index`, which the open gave `channel`.
constexpr unsigned long b_release = 0x80084210ul;

constexpr int b_channels = 3;

struct BChannel {
  std::int32_t index;
  std::int32_t channel;
};

static_assert(sizeof(BChannel) == 8 && offsetof(BChannel, index) == 0 && offsetof(BChannel, channel) == 4,
              "B channel record");

}  // namespace dspdata
