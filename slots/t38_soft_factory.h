#pragma once
// The factory of the software T.38 slots: it joins the factory chain when
// first used. Until the slot type is built here it makes no slot and reports
// nothing.
#include "slots/slot_factory.h"

class T38SoftFactory : public SlotFactory {
 public:
  static T38SoftFactory& instance() {
    static T38SoftFactory factory;
    return factory;
  }

  const char* GetName() const override { return "T.38 soft"; }
  Slot* INewSlot(const LGCP::CreateParams&) override { return nullptr; }
  void Query(LGCP::Resources&) override {}

 private:
  T38SoftFactory() = default;
};
