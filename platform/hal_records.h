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

// E1 trunk timeslots: trunk * 32 + timeslot, trunks 0..3. Their outputs
// are the lines themselves.
constexpr int trunk_first = 0;
constexpr int trunk_last = 4 * 32 - 1;  // 127

// The byte a disconnected output is driven with (idle).
constexpr unsigned char idle_byte = 0xD5;

// Clock source of the TDM bus (HW_CLOCK_SELECT). The record holds the
// source number: 0..3 the sources the controller names by number, 4 the
// board's free-running clock, 5 the one selected with the external enable.
constexpr unsigned long clock_select = 0x80044301ul;  // ClockSource
constexpr std::int32_t clock_freerun = 4;
constexpr std::int32_t clock_external = 5;

struct ClockSource {
  std::int32_t source;
};
static_assert(sizeof(ClockSource) == 4, "clock select record");

// Registers of the line-interface chips behind the board's SPI bus, one chip
// per channel 0..7. A read answers the register in the low octet of the
// request's result. ENODEV: this board's hal has no SPI bus.
constexpr unsigned long spi_write = 0xC0034204ul;  // SpiRegister
constexpr unsigned long spi_read = 0xC0034203ul;   // SpiRegister, data 0xFF
constexpr int spi_channels = 8;

struct SpiRegister {
  std::uint8_t channel;
  std::uint8_t address;
  std::uint8_t data;
};
static_assert(sizeof(SpiRegister) == 3 && offsetof(SpiRegister, address) == 1 && offsetof(SpiRegister, data) == 2,
              "SPI register record");

// The board's front panel, for the monitoring service: each request passes
// the address of one byte. The DIP switch and the power supply are read
// (the power byte is the supply's raw state: 0 both, 1 standby, 2 main, 3
// both); the framer LEDs are written, two bits per framer n (0..3): bit 2n
// the link LED, bit 2n+1 the line LED.
constexpr unsigned long dip_switch = 0xC0014205ul;
constexpr unsigned long power_supply = 0xC0014206ul;
constexpr unsigned long framer_leds = 0xC0014207ul;

}  // namespace hal
