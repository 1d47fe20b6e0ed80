#pragma once
// The factory singleton of one slot family; it joins the factory chain
// when first used. The slot type itself grows here.
#include "slots/slot_factory.h"

class HdlcSlotFactory : public SlotFactory {
 public:
  static HdlcSlotFactory& instance() {
    static HdlcSlotFactory factory;
    return factory;
  }

 private:
  HdlcSlotFactory() = default;
};
