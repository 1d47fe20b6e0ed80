#pragma once
// The factory of the HDLC link slots: it joins the factory chain when first
// used. Until the slot type is built here it makes no slot and reports
// nothing.
#include "slots/slot_factory.h"

class HdlcSlotFactory : public SlotFactory {
 public:
  static HdlcSlotFactory& instance() {
    static HdlcSlotFactory factory;
    return factory;
  }

  const char* GetName() const override { return "HdlcSlotFactory"; }
  Slot* INewSlot(const LGCP::CreateParams&) override { return nullptr; }
  void Query(LGCP::Resources&) override {}

 private:
  HdlcSlotFactory() = default;
};
