#include "slots/slots.h"

Slots& Slots::instance() {
  static Slots slots;
  return slots;
}

void Slots::UpdateHardwareResources() {}
