#pragma once
// The factory singleton of one slot family; it joins the factory chain
// when first used. The slot type itself grows here.
#include "slots/slot_factory.h"

class ExtFactory : public SlotFactory {
 public:
  static ExtFactory& instance() {
    static ExtFactory factory;
    return factory;
  }

 private:
  ExtFactory() = default;
};
