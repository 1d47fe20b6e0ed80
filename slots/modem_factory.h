#pragma once
// The factory of the modem slots: it joins the factory chain when first used.
// Until the slot type is built here it makes no slot and reports nothing.
#include "slots/slot_factory.h"

class ModemFactory : public SlotFactory {
 public:
  static ModemFactory& instance() {
    static ModemFactory factory;
    return factory;
  }

  const char* GetName() const override { return "Modem"; }
  Slot* INewSlot(const LGCP::CreateParams&) override { return nullptr; }
  void Query(LGCP::Resources&) override {}

 private:
  ModemFactory() = default;
};
