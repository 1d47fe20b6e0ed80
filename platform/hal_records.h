#pragma once
// Requests and records of the board control driver "/dev/hal" that the
// daemon and the simulated board share. Records are native structs in the
// processor's byte order (big-endian on the board); neither side swaps.
// Request codes are the board's own numbers (PowerPC encodings), written
// out literally: the host's _IOW would give other numbers.
#include <cstddef>
#include <cstdint>

namespace hal {

// Switching matrix.
constexpr unsigned long matrix_connect = 0x80084D02ul;  // MatrixConnect: drive `destination` from `source`
constexpr unsigned long matrix_disable = 0x80044D03ul;  // MatrixChannel: stop driving an output
constexpr unsigned long matrix_write = 0xC0084D04ul;    // MatrixValue: drive an output with a constant byte
constexpr unsigned long matrix_read = 0xC0084D05ul;     // MatrixValue: sample the byte on a channel

struct MatrixConnect {
  std::int32_t destination;
  std::int32_t source;
};

struct MatrixChannel {
  std::int32_t channel;
};

// For a write, `value` carries the byte in its low octet; for a read it goes
// in as 255 and comes back with the sampled byte in its low octet.
struct MatrixValue {
  std::int32_t channel;
  std::int32_t value;
};

static_assert(sizeof(MatrixConnect) == 8 && offsetof(MatrixConnect, destination) == 0 &&
                  offsetof(MatrixConnect, source) == 4,
              "matrix connect record");
static_assert(sizeof(MatrixChannel) == 4, "matrix channel record");
static_assert(sizeof(MatrixValue) == 8 && offsetof(MatrixValue, channel) == 0 && offsetof(MatrixValue, value) == 4,
              "matrix value record");

// Channel numbers of the matrix. The bus channels are its outputs:
// bus_first + bus * bus_timeslots + timeslot.
constexpr int bus_first = 8192;
constexpr int bus_timeslots = 128;
constexpr int bus_channels = 2048;
constexpr int bus_last = bus_first + bus_channels - 1;  // 10239

// The byte a disconnected output is driven with (idle).
constexpr unsigned char idle_byte = 0xD5;

}  // namespace hal
