#pragma once
// Requests and records of the trunk maintenance driver (the node named by
// GetMaintenance()) that the daemon and the simulated board share. Native
// structs in the processor's byte order; request codes are the board's own
// numbers (PowerPC encodings), written out literally.
#include <cstddef>
#include <cstdint>

namespace maint {

// Synchronisation status of one trunk: the caller clears the record and
// sets `trunk`; the driver fills the rest.
constexpr unsigned long sync_status = 0xC0504D03ul;  // SyncStatus
// By value: the transmit-clock mask, bit n for trunk n.
constexpr unsigned long set_tclk = 0xC0044D0Bul;
// By value: the trunk clock source number.
constexpr unsigned long select_clock = 0xC0044D0Aul;

constexpr int trunks = 4;

struct SyncStatus {
  std::int32_t trunk;
  std::uint8_t reserved1[32];  // not interpreted
  std::int32_t slips;
  std::int32_t lossBF;
  std::int32_t lossCarrier;
  std::int32_t ais;
  std::int32_t rai;
  std::uint8_t reserved2[20];  // not interpreted
  std::int32_t state;          // ACP::TrunkState value
};
static_assert(sizeof(SyncStatus) == 80 && offsetof(SyncStatus, slips) == 36 && offsetof(SyncStatus, lossBF) == 40 &&
                  offsetof(SyncStatus, lossCarrier) == 44 && offsetof(SyncStatus, ais) == 48 &&
                  offsetof(SyncStatus, rai) == 52 && offsetof(SyncStatus, state) == 76,
              "sync status record");

}  // namespace maint
