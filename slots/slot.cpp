#include "slots/slot.h"

#include <algorithm>
#include <functional>
#include <iomanip>
#include <iostream>
#include <sstream>

#include "hardware/hw_mux.h"
#include "slots/slot_factory.h"
#include "slots/slots.h"

Slot::~Slot() = default;

int Slot::GetTrunk() const { return -1; }
int Slot::GetTrunkTimeSlot() const { return -1; }
void Slot::OnTrunkStatus(unsigned, ACP::TrunkState::NamedNumber) {}
void Slot::IAfterCreate() {}
bool Slot::IBeforeDestroy() { return true; }
bool Slot::IActivate(const TERM::TermActivateParams&) { return false; }
bool Slot::IDeactivate() { return false; }
bool Slot::IUserData(const std::vector<char>&) { return false; }
bool Slot::Ioctl(const LGCP::IoctlParams&) { return false; }
int Slot::GetConnectionPriority() const { return 0; }
bool Slot::IHwConnectTransmitter(Slot& receiver) { return MuxConnect(*this, receiver); }
bool Slot::IHwConnectReceiver(Slot& source) { return MuxConnect(source, *this); }
bool Slot::IHwDisconnectTransmitter(Slot& receiver) { return MuxDisconnect(receiver); }
bool Slot::IHwDisconnectReceiver(Slot&) { return MuxDisconnect(*this); }
bool Slot::IOnOutputStream() { return false; }
bool Slot::IOnInputStream() { return false; }
void Slot::IOnOutputRelease() {}
void Slot::IOnInputRelease() {}
int Slot::IGetTransmitChannel() const { return -1; }
int Slot::IGetReceiveChannel() const { return -1; }

void Slot::Put(std::ostream& s) const {
  if (Slots::CheckSlot(static_cast<unsigned>(id_)))
    s << std::setw(2) << std::setfill('0') << id_ << std::setfill(' ');
  else if (id_ == -1)
    s << "na";
  else
    s << "i" << id_;
  s << ":" << GetName();
}

std::ostream& operator<<(std::ostream& s, const Slot& slot) {
  slot.Put(s);
  return s;
}

void Slot::SendSignal(const LGCP::Signal& signal) {
  Slots::instance().SendSignal(static_cast<unsigned>(id_), signal);
}

namespace {

// Sends one signal, filled in by `fill`, for the slot.
template <class Fill>
void emit(Slot& slot, Fill fill) {
  LGCP::Signal signal;
  fill(signal);
  slot.SendSignal(signal);
}

}  // namespace

void Slot::OnTonecEvent(const LGCP::TonecEvent& event) {
  emit(*this, [&](LGCP::Signal& s) { s.set_tonec(event); });
}
void Slot::OnNumber(const std::string& number) {
  emit(*this, [&](LGCP::Signal& s) { s.set_number(number); });
}
void Slot::OnModem(const TERM::ModemProceeding& proceeding) {
  emit(*this, [&](LGCP::Signal& s) { s.set_modemProceeding(proceeding); });
}
void Slot::OnModem(const TERM::ModemInformation& information) {
  emit(*this, [&](LGCP::Signal& s) { s.set_modemInformation(information); });
}
void Slot::OnActivated() {
  emit(*this, [](LGCP::Signal& s) { s.select_activated(); });
}
void Slot::OnDeactivated() {
  emit(*this, [](LGCP::Signal& s) { s.set_deactivated(LGCP::DeactivateCause::networkError); });
}
void Slot::OnAbort(int code) {
  emit(*this, [&](LGCP::Signal& s) { s.set_abort(code); });
}
void Slot::OnUserData(const std::vector<char>& data) {
  emit(*this, [&](LGCP::Signal& s) { s.select_userData() = data; });
}
void Slot::OnIoctlResponse(const LGCP::IoctlResponse& response) {
  emit(*this, [&](LGCP::Signal& s) { s.set_ioctl(response); });
}
void Slot::OnRtpRadioEvent(const TERM::RtpRadioRequest& request) {
  emit(*this, [&](LGCP::Signal& s) { s.set_rtpExt(request); });
}
void Slot::OnVADEvent(const LGCP::VADEvent& event) {
  emit(*this, [&](LGCP::Signal& s) { s.set_vad(event); });
}
void Slot::OnProtoVeskEvent(const VESKGW::ProtoVeskPackets& packets) {
  emit(*this, [&](LGCP::Signal& s) { s.set_protoVesk(packets); });
}
void Slot::OnSDEvent(const LGCP::SDEvent& event) {
  emit(*this, [&](LGCP::Signal& s) { s.set_sd(event); });
}
void Slot::OnRtpEvent(const LGCP::RtpEvent& event) {
  emit(*this, [&](LGCP::Signal& s) { s.set_rtp(event); });
}

void Slot::OnChangeInputStream(bool active) {
  if (active == inputActive_) return;
  LGCP::Signal signal;
  if (active) {
    signal.select_receiver().set_active(IGetReceiveChannel());
  } else {
    signal.select_receiver().select_inactive();
    Disconnect(*this);
  }
  inputActive_ = active;
  SendSignal(signal);
}

void Slot::OnChangeOutputStream(bool active) {
  if (active == outputActive_) return;
  LGCP::Signal signal;
  if (active) {
    signal.select_transmitter().set_active(IGetTransmitChannel());
  } else {
    signal.select_transmitter().select_inactive();
    for (std::size_t n = receivers_.size(); n > 0; --n) {
      if (receivers_.empty()) {
        std::cerr << "mux: internal error: expected slots not exists." << std::endl;
        break;
      }
      Disconnect(*receivers_.front());
    }
  }
  outputActive_ = active;
  SendSignal(signal);
}

bool Slot::BeforeDestroy() {
  if (!IBeforeDestroy()) return false;
  if (factory_)
    factory_->Remove(this);
  else
    std::cerr << "slot: internal error!!! BeforeDestroy() not connected to factory" << std::endl;
  return true;
}

void Slot::on_release() {
  if (!releasing_) return;
  if (factory_) factory_->Remove(this);
  Slots::instance().on_release(this);
}

void Slot::LogicalConnect(Slot& source) {
  source_ = &source;
  std::vector<Slot*>& r = source.receivers_;
  r.insert(std::upper_bound(r.begin(), r.end(), this, std::less<Slot*>()), this);
  r.erase(std::unique(r.begin(), r.end()), r.end());
}

void Slot::LogicalDisconnect() {
  if (!source_) return;
  std::vector<Slot*>& r = source_->receivers_;
  r.erase(std::remove(r.begin(), r.end(), this), r.end());
  source_ = nullptr;
}

bool Connect(Slot& source, Slot& receiver) {
  if (receiver.source() == &source) return true;
  if (source.receivers().empty()) {
    if (!source.IOnOutputStream()) {
      std::cerr << "slot " << source << " don't have output stream to " << receiver << std::endl;
      return false;
    }
    source.OnChangeOutputStream(true);
  }
  Slot* old = receiver.source();
  if (!old) {
    if (!receiver.IOnInputStream()) {
      std::cerr << "slot " << receiver << " don't have input stream from " << source << std::endl;
      return false;
    }
    receiver.OnChangeInputStream(true);
  } else {
    // A move: the old path goes first, the logical link once the new one
    // stands.
    llDisconnect(receiver);
  }
  if (llConnect(source, receiver)) {
    if (old) {
      receiver.LogicalDisconnect();
      if (old->receivers().empty()) old->IOnOutputRelease();
    }
    receiver.LogicalConnect(source);
    return true;
  }
  // A failed move must not leave the receiver logically fed by a source
  // whose path has been cut: the old path is made again, or, failing that,
  // the receiver is cut from its old source too.
  if (!old) {
    receiver.IOnInputRelease();
  } else if (!llConnect(*old, receiver)) {
    receiver.LogicalDisconnect();
    receiver.IOnInputRelease();
    if (old->receivers().empty()) old->IOnOutputRelease();
  }
  if (source.receivers().empty()) source.IOnOutputRelease();
  return false;
}

bool Disconnect(Slot& receiver) {
  Slot* source = receiver.source();
  if (!source) return true;
  const bool done = llDisconnect(receiver);
  receiver.LogicalDisconnect();
  receiver.IOnInputRelease();
  if (source->receivers().empty()) source->IOnOutputRelease();
  return done;
}

bool llConnect(Slot& source, Slot& receiver) {
  if (source.GetConnectionPriority() > receiver.GetConnectionPriority())
    return source.IHwConnectTransmitter(receiver);
  return receiver.IHwConnectReceiver(source);
}

bool llDisconnect(Slot& receiver) {
  Slot* source = receiver.source();
  if (!source) return false;
  if (receiver.GetConnectionPriority() > source->GetConnectionPriority())
    return receiver.IHwDisconnectReceiver(*source);
  return source->IHwDisconnectTransmitter(receiver);
}

bool MuxConnect(Slot& source, Slot& receiver) {
  const int tx = source.IGetTransmitChannel();
  const int rx = receiver.IGetReceiveChannel();
  if (!HwMux::instance().Connect(tx, rx)) return false;
  // One write for the line: the log stream may be unbuffered.
  std::ostringstream line;
  line << "mux: slot " << source << " [" << tx << "] -> " << receiver << " [" << rx << "]\n";
  std::clog << line.str() << std::flush;
  return true;
}

bool MuxDisconnect(Slot& receiver) {
  const int rx = receiver.IGetReceiveChannel();
  if (!HwMux::instance().Disconnect(rx)) return false;
  std::ostringstream line;
  line << "mux: disconnect slot " << receiver << " [" << rx << "]\n";
  std::clog << line.str() << std::flush;
  return true;
}
