#pragma once
// The factory of the ISDN and ATS-QSIG slots: it joins the factory chain when
// first used. Until the slot type is built here it makes no slot and reports
// nothing.
#include "slots/slot_factory.h"

class IsdnFactory : public SlotFactory {
 public:
  static IsdnFactory& instance() {
    static IsdnFactory factory;
    return factory;
  }

  const char* GetName() const override { return "ISDN"; }
  Slot* INewSlot(const LGCP::CreateParams&) override { return nullptr; }
  void Query(LGCP::Resources&) override {}

 private:
  IsdnFactory() = default;
};
