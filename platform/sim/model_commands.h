#pragma once
// Control-command pieces that several device models share.
#include <cstdint>
#include <map>
#include <string>

#include "platform/sim/board.h"
#include "platform/sim/command_words.h"

namespace sim {

// A file a command names: a relative path lies under the root, where the
// daemon's files are.
std::string under_root(const std::string& path);

// "NAME raw HEX..." (the octets from a[1] on): one record of those octets to
// every open of path, to try records the driver would never send (short
// ones). Refused for bad octets and when no open took it.
void raw_record(Board& board, const std::string& path, const Board::Args& a, Board::Reply& r);

// "NAME state [TS]": describe(ts, slot) for every timeslot the driver has
// seen, or for TS alone (as at power-on when it has not seen it).
template <class Slot, class Describe>
void timeslot_state(const std::map<std::uint32_t, Slot>& slots, const Board::Args& a, Describe describe,
                    Board::Reply& r) {
  if (a.size() == 1) {
    for (const auto& t : slots) r.line(describe(t.first, t.second));
    return;
  }
  std::uint32_t ts;
  if (!words::to_u32(a[1], ts)) return r.fail("bad timeslot '" + a[1] + "'");
  auto it = slots.find(ts);
  r.line(describe(ts, it == slots.end() ? Slot() : it->second));
}

}  // namespace sim
