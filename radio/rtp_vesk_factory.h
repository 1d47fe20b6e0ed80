#pragma once
// The factory singleton of one slot family; it joins the factory chain
// when first used. The slot type itself grows here.
#include "slots/slot_factory.h"

class RtpVESKFactory : public SlotFactory {
 public:
  static RtpVESKFactory& instance() {
    static RtpVESKFactory factory;
    return factory;
  }

 private:
  RtpVESKFactory() = default;
};
