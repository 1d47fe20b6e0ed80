#pragma once
// The factory of the external channel slots: it joins the factory chain when
// first used. Until the slot type is built here it makes no slot and reports
// nothing.
#include "slots/slot_factory.h"

class ExtFactory : public SlotFactory {
 public:
  static ExtFactory& instance() {
    static ExtFactory factory;
    return factory;
  }

  const char* GetName() const override { return "Ext"; }
  Slot* INewSlot(const LGCP::CreateParams&) override { return nullptr; }
  void Query(LGCP::Resources&) override {}

 private:
  ExtFactory() = default;
};
