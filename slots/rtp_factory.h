#pragma once
// The factory singleton of one slot family; it joins the factory chain
// when first used. The slot type itself grows here.
#include "slots/slot_factory.h"

class RtpFactory : public SlotFactory {
 public:
  static RtpFactory& instance() {
    static RtpFactory factory;
    return factory;
  }

 private:
  RtpFactory() = default;
};
