#pragma once
// The factory singleton of one slot family; it joins the factory chain
// when first used. The slot type itself grows here.
#include "slots/slot_factory.h"

class IsdnFactory : public SlotFactory {
 public:
  static IsdnFactory& instance() {
    static IsdnFactory factory;
    return factory;
  }

 private:
  IsdnFactory() = default;
};
