#pragma once
// The ranges of the numbers a controller sends in a create or an ioctl.
//
// The coder takes any 32-bit value for an unconstrained INTEGER. A number
// gets a range only where a slot indexes with it, or stores it in a
// driver field narrower than 32 bits; the range is what that use takes.
// A number that is only a label (printed, passed on, compared), one kept
// in a 32-bit word, and one nothing reads take any value. A number out of
// its range is refused as a whole, before anything changes: the controller
// hears invalidParams and an existing slot at the number stays. Whether
// the board has the thing named (a bus, a mixer unit, a free channel) is
// the slot's own question and stays a resource failure.
#include <string>

#include "asn1/modules/LGCP.h"

class ParamRanges {
 public:
  // "" when every number is in range; else the field and its value, for
  // the log.
  static std::string Create(const LGCP::CreateParams& params);
  static std::string Ioctl(const LGCP::IoctlParams& params);
};
