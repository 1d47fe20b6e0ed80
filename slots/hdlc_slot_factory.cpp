#include "slots/hdlc_slot_factory.h"

#include <iostream>
#include <string>

#include "runtime/traces.h"
#include "slots/hdlc_slot.h"

Slot* HdlcSlotFactory::INewSlot(const LGCP::CreateParams& params) {
  if (params.getSelection() != LGCP::CreateParams::e_hdlcParams) return nullptr;
  if (traces.signalling_hdlc) std::clog << "\n\nHdlcSlotFactory.INewSlot\n\n\n" << std::flush;
  const LGCP::HdlcParams& p = params.get_hdlcParams();
  const int address = p.get_address().getValue();
  if (address < 0 || address > 0xFFFF) {
    std::cerr << "HdlcSlotFactory: address " + std::to_string(address) + " is not 16 bits\n" << std::flush;
    return nullptr;
  }
  return new HdlcSlot(p.get_trunk().getValue(), p.get_log().getValue(), static_cast<std::uint16_t>(address));
}
