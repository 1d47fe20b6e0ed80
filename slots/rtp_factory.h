#pragma once
// The factory of the RTP slots: it joins the factory chain when first used.
// Until the slot type is built here it makes no slot and reports nothing.
#include "slots/slot_factory.h"

class RtpFactory : public SlotFactory {
 public:
  static RtpFactory& instance() {
    static RtpFactory factory;
    return factory;
  }

  const char* GetName() const override { return "RTP"; }
  Slot* INewSlot(const LGCP::CreateParams&) override { return nullptr; }
  void Query(LGCP::Resources&) override {}

 private:
  RtpFactory() = default;
};
