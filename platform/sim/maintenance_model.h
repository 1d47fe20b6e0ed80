#pragma once
// The simulated trunk maintenance driver (the node sysroot::maintenance):
// each trunk's synchronisation record as a test sets it (state, slips,
// losses, or a refusal), and the transmit-clock mask and clock source the
// daemon last sent. Control commands: "trunk", "tclk". A trunk whose framer
// status file (sysroot::framer_dir + trunk) exists gets that file rewritten
// from its record at install and whenever the record is set.
#include <array>
#include <cstdint>
#include <memory>
#include <string>

#include "platform/maintenance_records.h"
#include "platform/sim/board.h"

namespace sim {

class MaintenanceModel {
 public:
  struct Trunk {
    maint::SyncStatus status{};  // what a status request answers (trunk set by the request)
    int fail = 0;                // errno refusing the trunk's status requests; 0: none
  };
  // The driver's state, shared by every open.
  struct State {
    std::array<Trunk, maint::trunks> trunks{};
    bool tclkSet = false;
    std::uint32_t tclk = 0;
    long clockSource = -1;  // -1: never selected
    void reset() { *this = State(); }
  };
  static State& state();

  // Registers the model and its control commands.
  static void install(Board& board);
};

}  // namespace sim
