#pragma once
// The factory singleton of one slot family; it joins the factory chain
// when first used. The slot type itself grows here.
#include "slots/slot_factory.h"

class MapFactory : public SlotFactory {
 public:
  static MapFactory& instance() {
    static MapFactory factory;
    return factory;
  }

 private:
  MapFactory() = default;
};
