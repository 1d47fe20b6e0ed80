#pragma once
// The factory singleton of one slot family; it joins the factory chain
// when first used. The slot type itself grows here.
#include "slots/slot_factory.h"

class ModemFactory : public SlotFactory {
 public:
  static ModemFactory& instance() {
    static ModemFactory factory;
    return factory;
  }

 private:
  ModemFactory() = default;
};
