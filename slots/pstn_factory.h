#pragma once
// The factory of the PSTN signalling slots: it joins the factory chain when
// first used. Until the slot type is built here it makes no slot and reports
// nothing.
#include "slots/slot_factory.h"

class PstnFactory : public SlotFactory {
 public:
  static PstnFactory& instance() {
    static PstnFactory factory;
    return factory;
  }

  const char* GetName() const override { return "PSTN"; }
  Slot* INewSlot(const LGCP::CreateParams&) override { return nullptr; }
  void Query(LGCP::Resources&) override {}

 private:
  PstnFactory() = default;
};
