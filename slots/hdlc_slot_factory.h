#pragma once
// The factory of the HDLC link slots (hdlc_slot.h), for the create
// alternative `hdlcParams`.
#include "slots/slot_factory.h"

class HdlcSlotFactory : public SlotFactory {
 public:
  static HdlcSlotFactory& instance() {
    static HdlcSlotFactory factory;
    return factory;
  }

  const char* GetName() const override { return "HdlcSlotFactory"; }
  // Null for an address that is not 16 bits.
  Slot* INewSlot(const LGCP::CreateParams& params) override;
  void Query(LGCP::Resources&) override {}

 private:
  HdlcSlotFactory() = default;
};
