#pragma once
// The factory singleton of one slot family; it joins the factory chain
// when first used. The slot type itself grows here.
#include "slots/slot_factory.h"

class PstnFactory : public SlotFactory {
 public:
  static PstnFactory& instance() {
    static PstnFactory factory;
    return factory;
  }

 private:
  PstnFactory() = default;
};
