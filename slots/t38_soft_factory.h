#pragma once
// The factory singleton of one slot family; it joins the factory chain
// when first used. The slot type itself grows here.
#include "slots/slot_factory.h"

class T38SoftFactory : public SlotFactory {
 public:
  static T38SoftFactory& instance() {
    static T38SoftFactory factory;
    return factory;
  }

 private:
  T38SoftFactory() = default;
};
