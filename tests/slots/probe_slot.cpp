#include "tests/slots/probe_slot.h"

#include <sstream>

ProbeFactory probeFactory;

ProbeSlot::ProbeSlot(int channel, bool lateRelease)
    : transmitChannel(channel), receiveChannel(channel), lateRelease(lateRelease), channel_(channel) {}

std::vector<std::string>& ProbeSlot::journal() {
  static std::vector<std::string> lines;
  return lines;
}

void ProbeSlot::note(const std::string& what) const {
  std::ostringstream line;
  line << *this << " " << what;
  journal().push_back(line.str());
}

void ProbeSlot::OnTrunkStatus(unsigned trunk, ACP::TrunkState::NamedNumber) {
  ++trunkReports;
  note("OnTrunkStatus " + std::to_string(trunk));
}

void ProbeSlot::IAfterCreate() {
  note("IAfterCreate");
  if (!lateRelease) return;
  OnChangeOutputStream(true);
  OnChangeInputStream(true);
  enableDTMF(true);
  enableIVA(true);
  enableVAD(true);
  enableSD(true);
  enableBSS(true);
}

bool ProbeSlot::IBeforeDestroy() {
  note("IBeforeDestroy");
  Hardware::TonecReceiver::CleanBeforeDestroy();
  Hardware::DSProcReceiver::CleanBeforeDestroy();
  return !lateRelease;
}

bool ProbeSlot::IUserData(const std::vector<char>&) {
  note("IUserData");
  if (!releasing()) return false;
  // From the loop, after this command has been answered.
  release_.set(0, &ProbeSlot::OnReleaseDone, this);
  return true;
}

void ProbeSlot::OnReleaseDone() { on_release(); }

bool ProbeSlot::IHwConnectTransmitter(Slot& receiver) {
  note("IHwConnectTransmitter");
  return Slot::IHwConnectTransmitter(receiver);
}

bool ProbeSlot::IHwConnectReceiver(Slot& source) {
  note("IHwConnectReceiver");
  return Slot::IHwConnectReceiver(source);
}

bool ProbeSlot::IHwDisconnectTransmitter(Slot& receiver) {
  note("IHwDisconnectTransmitter");
  return Slot::IHwDisconnectTransmitter(receiver);
}

bool ProbeSlot::IHwDisconnectReceiver(Slot& source) {
  note("IHwDisconnectReceiver");
  return Slot::IHwDisconnectReceiver(source);
}

bool ProbeSlot::IOnOutputStream() {
  note("IOnOutputStream");
  return hasOutput;
}

bool ProbeSlot::IOnInputStream() {
  note("IOnInputStream");
  return hasInput;
}

void ProbeSlot::IOnOutputRelease() { note("IOnOutputRelease"); }

void ProbeSlot::IOnInputRelease() { note("IOnInputRelease"); }

Slot* ProbeFactory::INewSlot(const LGCP::CreateParams& params) {
  switch (params.getSelection()) {
    case LGCP::CreateParams::e_usb_tdm:
      return new ProbeSlot(params.get_usb_tdm().get_channel().getValue(), true);
    case LGCP::CreateParams::e_spi_tdm:
      return new ProbeSlot(params.get_spi_tdm().get_channel().getValue(), false);
    default:
      return nullptr;
  }
}

void ProbeFactory::Query(LGCP::Resources& resources) { resources.set_lin16(static_cast<unsigned>(slots().size())); }

void ProbeFactory::SelfSignal(const LGCP::Signal& signal) {
  const ACP::TrunkStatus& status = signal.get_trunkStatus();
  for (Slot* slot : slots())
    slot->OnTrunkStatus(static_cast<unsigned>(status.get_trunk().getValue()),
                        static_cast<ACP::TrunkState::NamedNumber>(status.get_state().getValue()));
}
