#pragma once
// The factory of the echo canceller slots: it joins the factory chain when
// first used. Until the slot type is built here it makes no slot and reports
// nothing.
#include "slots/slot_factory.h"

class EchoFactory : public SlotFactory {
 public:
  static EchoFactory& instance() {
    static EchoFactory factory;
    return factory;
  }

  const char* GetName() const override { return "Echo"; }
  Slot* INewSlot(const LGCP::CreateParams&) override { return nullptr; }
  void Query(LGCP::Resources&) override {}

 private:
  EchoFactory() = default;
};
