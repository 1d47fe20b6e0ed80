#pragma once
// Requests and records of the channel-associated signalling driver
// "/dev/e1-cas" that the daemon and the simulated board share. Native
// structs in the processor's byte order; request codes are the board's own
// numbers. 0x80044301 is also the clock select of "/dev/hal": a code means
// something only together with its device.
#include <cstddef>
#include <cstdint>

namespace cas {

// By value: the trunk number.
constexpr unsigned long open_trunk = 0x80044300ul;
constexpr unsigned long close_trunk = 0x80044301ul;
// cas_channel: transmit bits in `tx`, `rx` 0.
constexpr unsigned long set_bits = 0xC00C4302ul;
// cas_channel with both bit octets 0; answered with the receive and
// transmit bits.
constexpr unsigned long get_bits = 0xC00C4303ul;
// cas_switch: a channel's signalling on (with its transmit bits) or off.
constexpr unsigned long channel_switch = 0xC0104304ul;

// One signalling channel and its four bits (ABCD, low nibble). Reading the
// device yields one such record per change of the receive bits.
struct cas_channel {
  std::uint32_t trunk;
  std::uint32_t timeslot;
  std::uint8_t rx;
  std::uint8_t tx;
  std::uint8_t pad[2];
};
static_assert(sizeof(cas_channel) == 12 && offsetof(cas_channel, timeslot) == 4 && offsetof(cas_channel, rx) == 8 &&
                  offsetof(cas_channel, tx) == 9,
              "CAS channel record");

constexpr std::uint32_t switch_on = 0;
constexpr std::uint32_t switch_off = 1;

struct cas_switch {
  cas_channel channel;
  std::uint32_t off;  // switch_on or switch_off
};
static_assert(sizeof(cas_switch) == 16 && offsetof(cas_switch, off) == 12, "CAS channel switch record");

}  // namespace cas
