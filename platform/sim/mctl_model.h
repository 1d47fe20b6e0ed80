#pragma once
// The simulated modem driver "/dev/mctl": a pool of modems, each with its
// TDM channel (3584 + its number).
//
// Each open is one descriptor. Allocate (0xBB0B) binds the lowest free
// modem to it (EBUSY when it has one, ENOSPC when none is free) and answers
// its number; timeslot (0xBB15) answers its channel (EINVAL before the
// allocation); enumerate (0xBB0C) walks every modem of the pool, allocated
// or not. The requests with a record (data modes, parameters, answer,
// originate, fax) act on the descriptor's own modem only (EINVAL for
// another; EFAULT for a record of the wrong size). The modem is free again
// when the daemon closes its last descriptor of the open.
//
// The board starts with no modem; tests size the pool with `mctl modems N`
// and read the modems' state with `mctl` (README.md).
#include <cstdint>
#include <map>
#include <string>
#include <vector>

namespace sim {

class Board;

class MctlModel {
 public:
  struct Modem {
    std::uint64_t owner = 0;  // the open holding it (0: free)
    std::int32_t ddm = 0;     // data-mode mask last set
    std::map<std::int32_t, std::int32_t> dmp;  // data-mode parameters set since the last reset
    std::string call = "idle";                 // idle, answer, originate, fax-originate
  };
  struct State {
    std::vector<Modem> modems;
    void reset() { *this = State(); }
  };
  static State& state();
  static int timeslot_of(int modem) { return 3584 + modem; }

  // Registers the device model and its control command.
  static void install(Board& board);
};

}  // namespace sim
