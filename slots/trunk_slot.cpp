#include "slots/trunk_slot.h"

#include <iostream>

#include "slots/slots.h"

// Built before the process entry runs, in this order, each at the head of
// the chain: the trunks are the last factories asked.
TrunkFactory trunk0(0, 0);
TrunkFactory trunk1(1, 32);
TrunkFactory trunk2(2, 64);
TrunkFactory trunk3(3, 96);
TrunkBRIFactory trunk_bri0(0, 0);
TrunkBRIFactory trunk_bri1(1, 4);
TrunkBRIFactory trunk_bri2(2, 8);
TrunkBRIFactory trunk_bri3(3, 12);
TrunkBRIFactory trunk_bri4(4, 16);
TrunkBRIFactory trunk_bri5(5, 20);
TrunkBRIFactory trunk_bri6(6, 24);
TrunkBRIFactory trunk_bri7(7, 28);

// Nothing calls into this file: the factories find their work through the
// chain. The build asks the linker to keep this symbol, and with it the
// factories above.
extern "C" const int korvend_trunk_factories = 12;

int TrunkSlot::GetTimeSlot() const { return channel & 31; }
int TrunkSlot::GetTrunk() const { return channel >> 5; }

void TrunkSlot::IAfterCreate() {
  OnChangeOutputStream(true);
  OnChangeInputStream(true);
}

bool TrunkSlot::IBeforeDestroy() {
  owner_.ReleaseTrunkSlot(this);
  return true;
}

int TrunkBRISlot::GetTimeSlot() const { return channel & 3; }
int TrunkBRISlot::GetTrunk() const { return channel >> 2; }

void TrunkFactory::ReleaseTrunkSlot(TrunkSlot* slot) {
  TrunkSlot*& entry = timeslots[slot->GetTimeSlot()];
  if (entry == slot) entry = nullptr;
}

void TrunkFactory::FreeTimeSlot(unsigned timeslot) {
  TrunkSlot* old = timeslots[timeslot];
  if (!old) return;
  std::cerr << "trunk-slot: two slots require the same timeslot, remove old." << std::endl
            << " old slot " << *old << std::endl;
  Slots::instance().Destroy(old);
}

Slot* TrunkFactory::INewSlot(const LGCP::CreateParams& params) {
  if (params.getSelection() != LGCP::CreateParams::e_trunk) return nullptr;
  return NewTrunkSlot(params.get_trunk(), 32);
}

Slot* TrunkBRIFactory::INewSlot(const LGCP::CreateParams& params) {
  if (params.getSelection() != LGCP::CreateParams::e_trunk_bri) return nullptr;
  return NewTrunkSlot(params.get_trunk_bri(), 4);
}

Slot* TrunkFactory::NewTrunkSlot(const LGCP::TrunkParams& params, unsigned count) {
  const unsigned timeslot = params.get_timeslot().getValue();
  if (params.get_trunk().getValue() != trunk || timeslot >= count) return nullptr;
  FreeTimeSlot(timeslot);
  return timeslots[timeslot] = MakeSlot(static_cast<int>(base + timeslot));
}

TrunkSlot* TrunkFactory::MakeSlot(int channel) { return new TrunkSlot(*this, channel); }

TrunkSlot* TrunkBRIFactory::MakeSlot(int channel) { return new TrunkBRISlot(*this, channel); }
