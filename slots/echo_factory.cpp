#include "slots/echo_factory.h"

#include <iostream>

void EchoSlot::IAfterCreate() {
  OnChangeOutputStream(true);
  OnChangeInputStream(true);
}

void EchoFactory::Scan() {
  for (bool& p : present) p = false;
  std::clog << "Scanning echo channels ...\n" << std::flush;
}

Slot* EchoFactory::INewSlot(const LGCP::CreateParams& params) {
  if (params.getSelection() != LGCP::CreateParams::e_echo) return nullptr;
  const LGCP::EchoParams& p = params.get_echo();
  const int bus = p.get_bus().getValue();
  const int channel = p.get_channel().getValue();
  if (bus < 0 || bus >= static_cast<int>(buses) || !present[bus]) return nullptr;
  if (channel < 0 || channel >= static_cast<int>(bus_channels)) return nullptr;
  return new EchoSlot(bus_channels * static_cast<unsigned>(bus) + static_cast<unsigned>(channel));
}

void EchoFactory::Query(LGCP::Resources& resources) {
  for (unsigned bus = 0; bus < buses; ++bus)
    if (present[bus]) resources.get_echoBus().push_back() = static_cast<int>(bus);
}
