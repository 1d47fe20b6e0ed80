#pragma once
// The simulated channel-associated signalling driver ("/dev/e1-cas").
//
// Per trunk an open flag; per channel (trunk, timeslot) its switch and its
// transmit and receive bits (ABCD, low nibble). What a channel transmits
// arrives as the receive bits of the same timeslot at the far end of the
// trunk's line (tdm.h: cable, loop), whether or not the far end listens.
// Each change of a channel's receive bits, while its trunk is open and the
// channel switched on, is one 12-byte change record to every open of the
// node. Timeslots 0 and 16 (frame alignment and the signalling channel
// itself) carry no per-channel signalling. Control command: "cas".
#include <array>
#include <cstdint>
#include <map>
#include <memory>
#include <string>
#include <utility>

#include "platform/cas_records.h"
#include "platform/sim/board.h"

namespace sim {

class CasModel {
 public:
  static constexpr int trunks = 4;
  static constexpr int timeslots = 32;

  struct Channel {
    bool on = false;
    std::uint8_t tx = 0;
    std::uint8_t rx = 0;
  };
  // The driver's state, shared by every open.
  struct State {
    std::array<bool, trunks> open{};
    std::map<std::pair<int, int>, Channel> channels;  // (trunk, timeslot)
    void reset() { *this = State(); }
  };
  static State& state();

  // The receive bits of a channel become `bits` (as the line brings them);
  // a change record follows when they changed on a listening channel.
  static void receive(Board& board, int trunk, int timeslot, std::uint8_t bits);
  // What a channel transmits: it reaches the far end of the trunk's line.
  static void transmit(Board& board, int trunk, int timeslot, std::uint8_t bits);

  // Registers the model and its control command.
  static void install(Board& board);
};

}  // namespace sim
