#include "slots/slot_factory.h"

SlotFactory* SlotFactory::firstFactory = nullptr;

SlotFactory::SlotFactory() : next_(firstFactory) { firstFactory = this; }

SlotFactory::~SlotFactory() {
  for (SlotFactory** p = &firstFactory; *p; p = &(*p)->next_) {
    if (*p == this) {
      *p = next_;
      break;
    }
  }
}
