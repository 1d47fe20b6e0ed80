#pragma once
// The factory singleton of one slot family; it joins the factory chain
// when first used. The slot type itself grows here.
#include "slots/slot_factory.h"

class RtpED137Factory : public SlotFactory {
 public:
  static RtpED137Factory& instance() {
    static RtpED137Factory factory;
    return factory;
  }

 private:
  RtpED137Factory() = default;
};
