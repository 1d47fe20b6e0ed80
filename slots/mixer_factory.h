#pragma once
// The factory singleton of one slot family; it joins the factory chain
// when first used. The slot type itself grows here.
#include "slots/slot_factory.h"

namespace Mixer {

class MixerFactory : public SlotFactory {
 public:
  static MixerFactory& instance() {
    static MixerFactory factory;
    return factory;
  }

 private:
  MixerFactory() = default;
};

}  // namespace Mixer
