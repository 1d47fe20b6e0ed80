#include "slots/ext_factory.h"

#include <iostream>
#include <string>

#include "hardware/hw_mux.h"
#include "platform/hal_records.h"

void ExtSlot::IAfterCreate() { OnChangeOutputStream(true); }

bool ExtSlot::IActivate(const TERM::TermActivateParams&) {
  OnChangeInputStream(true);
  // Idle until a source comes; a source already connected by an earlier
  // activation keeps its path.
  if (!source()) HwMux::instance().Disconnect(rx);
  return true;
}

bool ExtSlot::IDeactivate() {
  OnChangeInputStream(false);
  HwMux::instance().Disable(rx);
  return true;
}

bool ExtSlot::IBeforeDestroy() {
  HwMux::instance().Disable(rx);
  return true;
}

namespace {

// The TDM channel of an external channel number; false outside the bus.
bool busChannel(const char* side, int number, int& channel) {
  if (number < 0 || number >= hal::bus_channels) {
    std::cerr << "ext: " + std::string(side) + " " + std::to_string(number) + " is not a bus channel (0.." +
                     std::to_string(hal::bus_channels - 1) + ")\n"
              << std::flush;
    return false;
  }
  channel = hal::bus_first + number;
  return true;
}

}  // namespace

Slot* ExtFactory::INewSlot(const LGCP::CreateParams& params) {
  if (params.getSelection() != LGCP::CreateParams::e_ext) return nullptr;
  const LGCP::ExtParams& p = params.get_ext();
  int tx, rx;
  if (!busChannel("transmitter", p.get_transmitter().getValue(), tx) ||
      !busChannel("receiver", p.get_receiver().getValue(), rx))
    return nullptr;
  return new ExtSlot(tx, rx);
}
