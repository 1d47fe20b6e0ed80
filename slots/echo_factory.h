#pragma once
// The factory singleton of one slot family; it joins the factory chain
// when first used. The slot type itself grows here.
#include "slots/slot_factory.h"

class EchoFactory : public SlotFactory {
 public:
  static EchoFactory& instance() {
    static EchoFactory factory;
    return factory;
  }

 private:
  EchoFactory() = default;
};
