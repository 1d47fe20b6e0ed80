#pragma once
// The factory singleton of one slot family; it joins the factory chain
// when first used. The slot type itself grows here.
#include "slots/slot_factory.h"

class VoiceFactory : public SlotFactory {
 public:
  static VoiceFactory& instance() {
    static VoiceFactory factory;
    return factory;
  }

 private:
  VoiceFactory() = default;
};
