#include "slots/map_slot.h"

#include <iostream>

#include "hardware/hw_mux.h"
#include "platform/hal_records.h"
#include "slots/slots.h"

namespace {

constexpr unsigned buses = 16;

int logical(int channel) { return channel - hal::bus_first; }

// The TDM channel of a shared channel of the parameters; false when it is
// out of the buses' range.
bool channelOf(const LGCP::SharedChannel& shared, int& channel) {
  const unsigned bus = shared.get_bus().getValue();
  const unsigned ch = shared.get_channel().getValue();
  if (bus >= buses || ch >= static_cast<unsigned>(hal::bus_timeslots)) {
    std::cerr << "map-slot: no shared channel " << ch << " on bus " << bus << std::endl;
    return false;
  }
  channel = MapFactory::GetMapTimeSlot(bus, ch);
  return true;
}

}  // namespace

int MapSlot::GetTxLogChannel() const { return logical(tx); }
int MapSlot::GetRxLogChannel() const { return logical(rx); }

void MapSlot::IAfterCreate() {
  if (IsRxExists()) OnChangeInputStream(true);
  if (IsTxExists()) OnChangeOutputStream(true);
}

bool MapSlot::IBeforeDestroy() {
  owner_.ReleaseMapSlot(this);
  return true;
}

MapFactory& MapFactory::instance() {
  static MapFactory factory;
  return factory;
}

int MapFactory::GetMapTimeSlot(unsigned bus, unsigned channel) {
  return hal::bus_first + static_cast<int>(bus) * hal::bus_timeslots + static_cast<int>(channel);
}

const MapSlot* MapFactory::owner(int logical) const {
  return logical >= 0 && logical < hal::bus_channels ? owners[logical] : nullptr;
}

Slot* MapFactory::INewSlot(const LGCP::CreateParams& params) {
  if (params.getSelection() != LGCP::CreateParams::e_map) return nullptr;
  const LGCP::MapParams& p = params.get_map();
  int tx = -1, rx = -1;
  if (p.hasOptionalField(LGCP::MapParams::o_transmitter) && !channelOf(p.get_transmitter(), tx)) return nullptr;
  if (p.hasOptionalField(LGCP::MapParams::o_receiver) && !channelOf(p.get_receiver(), rx)) return nullptr;
  MapSlot* slot = new MapSlot(*this, tx, rx);
  AllocateMapSlot(slot);
  return slot;
}

void MapFactory::Take(MapSlot* slot, int logical) {
  MapSlot* old = owners[logical];
  if (old && old != slot) {
    std::cerr << "map-slot: two slots require the same ipc-slot, remove old." << std::endl
              << "new slot " << *slot << " <-> old slot " << *old << std::endl;
    Slots::instance().Destroy(old);
  }
  owners[logical] = slot;
}

void MapFactory::AllocateMapSlot(MapSlot* slot) {
  if (slot->IsRxExists()) Take(slot, slot->GetRxLogChannel());
  if (slot->IsTxExists()) Take(slot, slot->GetTxLogChannel());
}

void MapFactory::ReleaseMapSlot(MapSlot* slot) {
  if (slot->IsRxExists()) {
    std::clog << "map: disable map channel " + std::to_string(slot->GetRxLogChannel()) + "\n" << std::flush;
    HwMux::instance().Disable(slot->rx);
    MapSlot*& entry = owners[slot->GetRxLogChannel()];
    if (entry != slot) std::cerr << "map-slot: internal error! MapFactory::ReleaseMapSlot() code 1" << std::endl;
    entry = nullptr;
  }
  // A slot holding one channel on both sides has let go of it already.
  if (slot->IsTxExists() && slot->tx != slot->rx) {
    MapSlot*& entry = owners[slot->GetTxLogChannel()];
    if (entry != slot) std::cerr << "map-slot: internal error! MapFactory::ReleaseMapSlot() code 2" << std::endl;
    entry = nullptr;
  }
}
