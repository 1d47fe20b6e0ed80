#include "slots/slots.h"

#include "control/ctrl_server.h"

Slots& Slots::instance() {
  static Slots slots;
  return slots;
}

// Every count 0 until the factories add theirs.
void Slots::UpdateHardwareResources() {
  LGCP::Signal signal;
  signal.select_query().set_mux(true);
  SendSignal(signal);
}

void Slots::OnConnect() {}

void Slots::OnDisconnect() {}

bool Slots::OnCommand(const LGCP::Command& command) {
  if (!IsSlotPresent()) {
    if (command.getSelection() != LGCP::Command::e_query) return false;
    Success();
    UpdateHardwareResources();
    return true;
  }
  switch (command.getSelection()) {
    case LGCP::Command::e_connect:
      // The target is checked before any slot is looked up.
      Error(command.get_connect().getValue() > CtrlSrv::Server::max_slot ? LGCP::ErrorCause::invalidSlot
                                                                         : LGCP::ErrorCause::slotNotExists);
      return true;
    case LGCP::Command::e_create:
      // No factory can make a slot of any kind yet.
      Error(LGCP::ErrorCause::insufficientResources);
      return true;
    case LGCP::Command::e_disconnect:
    case LGCP::Command::e_destroy:
    case LGCP::Command::e_activate:
    case LGCP::Command::e_deactivate:
    case LGCP::Command::e_userData:
    case LGCP::Command::e_ioctl:
      Error(LGCP::ErrorCause::slotNotExists);
      return true;
    default:
      return false;
  }
}
