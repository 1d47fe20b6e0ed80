#pragma once
// Requests and records of the multi-channel HDLC controller driver
// "/dev/mcc/ctl" that the daemon and the simulated board share (native
// byte order on both sides; request codes are the board's own numbers).
#include <cstddef>
#include <cstdint>

// Binds a controller channel to the descriptor (record: MccAllocate).
constexpr unsigned long MCC_ALLOCATE = 0x40144D00ul;
// By value, argument 0: the matrix channel of the descriptor's controller
// channel as the result, negative on failure.
constexpr unsigned long MCC_TIMESLOT = 0x20004D02ul;
// The controller's free channels of each kind (record: MccResources).
constexpr unsigned long MCC_RESOURCES = 0x80104D03ul;

namespace mcc {

// Driver modes (word 0 of the allocate record).
enum DriverMode : std::int32_t {
  hdlc = 0,         // framed HDLC: PRI LAPD and raw HDLC links
  bri = 1,          // framed HDLC on a BRI D channel
  transparent = 2,  // byte stream
  ss7 = 3,          // framed HDLC carrying MTP level 2
};

struct MccAllocate {
  std::int32_t mode;          // DriverMode
  std::int32_t rx_size;       // receive packet size
  std::int32_t reserved;      // 0
  std::int32_t rx_threshold;  // receive threshold
  std::int32_t tx_threshold;  // transmit threshold
};

static_assert(sizeof(MccAllocate) == 20 && offsetof(MccAllocate, mode) == 0 && offsetof(MccAllocate, rx_size) == 4 &&
                  offsetof(MccAllocate, reserved) == 8 && offsetof(MccAllocate, rx_threshold) == 12 &&
                  offsetof(MccAllocate, tx_threshold) == 16,
              "MCC allocate record");

// Free channels, filled in by the driver.
struct MccResources {
  std::int32_t data;         // framed data channels
  std::int32_t bri;          // BRI D channels
  std::int32_t transparent;  // byte-stream channels
  std::int32_t reserved;
};

static_assert(sizeof(MccResources) == 16 && offsetof(MccResources, data) == 0 && offsetof(MccResources, bri) == 4 &&
                  offsetof(MccResources, transparent) == 8 && offsetof(MccResources, reserved) == 12,
              "MCC resources record");

}  // namespace mcc
