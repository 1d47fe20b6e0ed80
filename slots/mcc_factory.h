#pragma once
// The factory singleton of one slot family; it joins the factory chain
// when first used. The slot type itself grows here.
#include "slots/slot_factory.h"

class MccFactory : public SlotFactory {
 public:
  static MccFactory& instance() {
    static MccFactory factory;
    return factory;
  }

 private:
  MccFactory() = default;
};
