#pragma once
// The factory of the voice play and record slots: it joins the factory chain
// when first used. Until the slot type is built here it makes no slot and
// reports nothing.
#include "slots/slot_factory.h"

class VoiceFactory : public SlotFactory {
 public:
  static VoiceFactory& instance() {
    static VoiceFactory factory;
    return factory;
  }

  const char* GetName() const override { return "Voice"; }
  Slot* INewSlot(const LGCP::CreateParams&) override { return nullptr; }
  void Query(LGCP::Resources&) override {}

 private:
  VoiceFactory() = default;
};
