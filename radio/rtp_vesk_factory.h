#pragma once
// The factory of the VESK radio RTP slots: it joins the factory chain when
// first used. Until the slot type is built here it makes no slot and reports
// nothing.
#include "slots/slot_factory.h"

class RtpVESKFactory : public SlotFactory {
 public:
  static RtpVESKFactory& instance() {
    static RtpVESKFactory factory;
    return factory;
  }

  const char* GetName() const override { return "RtpVESK"; }
  Slot* INewSlot(const LGCP::CreateParams&) override { return nullptr; }
  void Query(LGCP::Resources&) override {}

 private:
  RtpVESKFactory() = default;
};
