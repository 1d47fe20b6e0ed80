#pragma once
// The ranges of the numbers a controller sends in a create or an ioctl.
//
// The coder takes any 32-bit value for an unconstrained INTEGER; the slots
// put these numbers into driver records of 8 and 16 bits, index tables and
// board channels with them and compute with them (a trunk becomes an index
// one below it). A number outside what its slot can use is refused as a
// whole, before anything changes: the controller hears invalidParams, an
// existing slot at the number stays, and nothing is computed from it.
// Whether the board has the thing named (a bus, a mixer unit, a free
// channel) is the slot's own question and stays a resource failure.
#include <string>

#include "asn1/modules/LGCP.h"

class ParamRanges {
 public:
  // The smallest and largest trunk a controller names (the board counts
  // them from 0).
  static constexpr int first_trunk = 1;
  static constexpr int last_trunk = 256;

  // "" when every number is in range; else the field and its value, for
  // the log.
  static std::string Create(const LGCP::CreateParams& params);
  static std::string Ioctl(const LGCP::IoctlParams& params);
};
