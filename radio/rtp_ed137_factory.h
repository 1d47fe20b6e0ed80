#pragma once
// The factory of the ED-137 radio RTP slots: it joins the factory chain when
// first used. Until the slot type is built here it makes no slot and reports
// nothing.
#include "slots/slot_factory.h"

class RtpED137Factory : public SlotFactory {
 public:
  static RtpED137Factory& instance() {
    static RtpED137Factory factory;
    return factory;
  }

  const char* GetName() const override { return "RtpED137"; }
  Slot* INewSlot(const LGCP::CreateParams&) override { return nullptr; }
  void Query(LGCP::Resources&) override {}

 private:
  RtpED137Factory() = default;
};
