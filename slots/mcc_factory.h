#pragma once
// The factory of the MCC data slots: it joins the factory chain when first
// used. Until the slot type is built here it makes no slot and reports
// nothing.
#include "slots/slot_factory.h"

class MccFactory : public SlotFactory {
 public:
  static MccFactory& instance() {
    static MccFactory factory;
    return factory;
  }

  const char* GetName() const override { return "MCC"; }
  Slot* INewSlot(const LGCP::CreateParams&) override { return nullptr; }
  void Query(LGCP::Resources&) override {}

 private:
  MccFactory() = default;
};
