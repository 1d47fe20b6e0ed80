#include "slots/slot_factory.h"

#include <algorithm>

#include "slots/slot.h"

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

void SlotFactory::SelfSignal(const LGCP::Signal&) {}

Slot* SlotFactory::NewSlot(const LGCP::CreateParams& params) {
  Slot* slot = INewSlot(params);
  if (!slot) return nullptr;
  slot->factory_ = this;
  slots_.push_back(slot);
  return slot;
}

void SlotFactory::Remove(Slot* slot) { slots_.erase(std::remove(slots_.begin(), slots_.end(), slot), slots_.end()); }
