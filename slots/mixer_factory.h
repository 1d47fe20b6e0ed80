#pragma once
// The factory of the mixer input and output slots: it joins the factory chain
// when first used. Until the slot type is built here it makes no slot and
// reports nothing.
#include "slots/slot_factory.h"

namespace Mixer {

class MixerFactory : public SlotFactory {
 public:
  static MixerFactory& instance() {
    static MixerFactory factory;
    return factory;
  }

  const char* GetName() const override { return "Mixer"; }
  Slot* INewSlot(const LGCP::CreateParams&) override { return nullptr; }
  void Query(LGCP::Resources&) override {}

 private:
  MixerFactory() = default;
};

}  // namespace Mixer
