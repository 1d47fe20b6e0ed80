#include "slots/pstn_slot.h"

#include <iostream>

#include "links/isdn/lapd_nt.h"
#include "links/ss7/slc.h"
#include "slots/signalling_link.h"
#include "slots/slots.h"

namespace {

// Controllers give trunks from 1, the board counts them from 0. A trunk
// that names no board trunk (0, negative) gives an index that no trunk
// status carries.
std::uint32_t indexOf(int controllerTrunk) { return static_cast<std::uint32_t>(controllerTrunk) - 1u; }

}  // namespace

PstnSlot::PstnSlot(const LGCP::PstnParams& params) {
  hdlc.bind(this);
  switch (params.getSelection()) {
    case LGCP::PstnParams::e_ss7: {
      const LGCP::SS7Params& p = params.get_ss7();
      const int trunk = p.get_trunk().getValue();
      slc = new SS7::SLC;
      slc->set_transmitter(&hdlc);
      slc->set_trunk(static_cast<std::uint32_t>(trunk));
      slc->set_slc(static_cast<std::uint32_t>(p.get_slc().getValue()));
      slc->set_dpc(static_cast<std::uint32_t>(p.get_dpc().getValue()));
      slc->set_opc(static_cast<std::uint32_t>(p.get_opc().getValue()));
      slc->set_emergency(p.get_emergency().getValue());
      add_protocol_tail(slc);
      linkNotify = slc;
      hdlc.set_trunk(trunk);
      trunkIndex = indexOf(trunk);
      kind_ = ss7;
      break;
    }
    case LGCP::PstnParams::e_isdn: {
      const LGCP::IsdnParams& p = params.get_isdn();
      const bool network = p.get_side().getSelection() == LGCP::IsdnSide::e_network;
      const bool isBri = p.get_type().getValue() == LGCP::IsdnType::bri;
      const unsigned log = LinkLogLevel(p.get_log().getValue());
      if (isBri && network) {
        lapdNt = new ISDN::LAPD_NT;
        lapdNt->set_log(log);
        add_protocol_tail(lapdNt);
        kind_ = bri_network;
        break;
      }
      const int trunk = p.get_trunk().getValue();
      lapd = new ISDN::LAPD(ISDN::Side::user, 0);
      lapd->set_transmitter(&hdlc);
      lapd->set_side(network ? ISDN::Side::network : ISDN::Side::user);
      lapd->set_link(static_cast<std::uint32_t>(trunk));
      lapd->set_log(log);
      lapd->set_observer(this);
      linkNotify = lapd;
      hdlc.set_log(static_cast<int>(log));
      hdlc.set_trunk(trunk);
      trunkIndex = indexOf(trunk);
      if (isBri) {
        lapd->change_to_bri();
        kind_ = bri;
      } else {
        kind_ = pri;
      }
      add_protocol_tail(lapd);
      break;
    }
    default:  // CAS: no layer 2 here
      break;
  }
  // The kind never changes: every allocation of the channel is in the mode
  // of its link.
  hdlc.set_mode(ChannelMode());
  updateTimer.set(update_ms, &PstnSlot::OnUpdateTimer, this);
}

PstnSlot::~PstnSlot() {
  // The links go before the channel they send through, each once (the
  // family owns them): nothing may reach them, or the slot, meanwhile.
  hdlc.unbind();
  linkNotify = nullptr;
  slc = nullptr;
  lapd = nullptr;
  lapdNt = nullptr;
  while (Protocol* layer = tail()) delete layer;
}

int PstnSlot::ChannelMode() const {
  switch (kind_) {
    case pri:
      return 1;
    case bri:
    case bri_network:
      return 2;
    default:
      return 0;
  }
}

// ---- controller commands ----

bool PstnSlot::IActivate(const TERM::TermActivateParams&) {
  iactivate();
  return true;
}

bool PstnSlot::IDeactivate() {
  deactivate();
  return true;
}

bool PstnSlot::IUserData(const std::vector<char>& data) {
  if (!SendUserData(*this, *this, hdlc, data)) return false;
  // An MSU has its service information octet and two more at least: the
  // link refuses less, with its line on the error stream, and the
  // controller hears so rather than success.
  if (slc && data.size() < 3) {
    Slots::instance().Error(LGCP::ErrorCause::invalidParams);
    return false;
  }
  return true;
}

bool PstnSlot::Ioctl(const LGCP::IoctlParams& params) {
  if (!slc) return false;
  switch (params.getSelection()) {
    case LGCP::IoctlParams::e_ss7RqBSN: {
      LGCP::IoctlResponse response;
      response.set_ss7BSN(slc->bsn_to_send());
      OnIoctlResponse(response);
      return true;
    }
    case LGCP::IoctlParams::e_ss7Log:
      slc->set_traces(params.get_ss7Log());
      return true;
    default:
      return false;
  }
}

// ---- the hardware path ----

void PstnSlot::iactivate() {
  // Without a connection there is no line to switch the channel to: the
  // line the slot last had may be another slot's by now.
  const bool connected = hdlc.tdm() != -1 && (!BriKind() || hdlc.transmit() != -1);
  if (connected && hdlc.activate())
    activate();
  else
    OnDeactivated();
}

bool PstnSlot::IHwConnectReceiver(Slot& source) {
  if (!BriKind()) {
    const int trunk = source.GetTrunk();
    if (static_cast<unsigned>(trunk) > 3) {
      std::cerr << "pstn-slot: invalid trunk number: " << trunk << std::endl;
      return false;
    }
    const int timeslot = source.GetTrunkTimeSlot();
    if (static_cast<unsigned>(timeslot) > 31) {
      std::cerr << "pstn-slot: invalid timeslot: " << timeslot << std::endl;
      return false;
    }
    hdlc.set_trunk(trunk);
    hdlc.set_timeslot(timeslot);
  }
  hdlc.set_tdm(source.IGetTransmitChannel());
  // A BRI channel transmits apart from where it receives: it waits for
  // the other direction.
  if (BriKind() && hdlc.transmit() == -1) return true;
  iactivate();
  return true;
}

bool PstnSlot::IHwConnectTransmitter(Slot& receiver) {
  if (!BriKind()) {
    // These kinds send back on the line they hear, a path their activation
    // switched. A controller that cut it (a disconnect of the line's slot)
    // and connects the line again has it switched again while the channel
    // is open; a closed channel switches it at its activation. Any other
    // receiver is not this channel's to drive.
    if (receiver.IGetReceiveChannel() == hdlc.tdm()) hdlc.redrive();
    return true;
  }
  hdlc.set_transmit(receiver.IGetReceiveChannel());
  if (hdlc.tdm() != -1) iactivate();
  return true;
}

bool PstnSlot::IHwDisconnectReceiver(Slot& source) {
  Cut(true);
  Slot::IHwDisconnectReceiver(source);
  return true;
}

bool PstnSlot::IHwDisconnectTransmitter(Slot& receiver) {
  if (BriKind()) Cut(false);
  Slot::IHwDisconnectTransmitter(receiver);
  return true;
}

// The channel was switched to and from the connection's TDM channels: it
// goes with the connection, taking its matrix paths with it, so that the
// next holder of its controller channel neither hears this line nor drives
// it. The slot forgets the TDM channel of the direction cut: the next
// connection brings its own.
void PstnSlot::Cut(bool receive) {
  const bool open = hdlc.is_open();
  hdlc.deactivate();
  if (receive)
    hdlc.set_tdm(-1);
  else
    hdlc.set_transmit(-1);
  // A BRI slot cut both ways has one channel, and one link to release.
  if (open) LinkLost();
}

void PstnSlot::LinkLost() {
  if (slc)
    slc->channel_closed();
  else if (lapd)
    lapd->channel_closed();
  else
    deactivate();  // the BRI network side goes down without a frame; CAS has no link
}

void PstnSlot::OnTrunkStatus(unsigned trunk, ACP::TrunkState::NamedNumber state) {
  if (!slc || trunk != trunkIndex || state == lastTrunkState) return;
  lastTrunkState = state;
  slc->OnTrunkHardStatus(state == ACP::TrunkState::normal);
}

// ---- the channel ----

void PstnSlot::on_hdlc_receive(Packet& frame) {
  if (lapdNt)
    receive(frame);
  else if (linkNotify)
    linkNotify->on_hdlc_receive(frame);
}

void PstnSlot::on_hdlc_error(Cause::Type cause) {
  if (linkNotify) linkNotify->on_hdlc_error(cause);
  // The channel has closed: a link left up would claim a service it no
  // longer gives. It goes down, and the controller hears "deactivated".
  LinkLost();
}

void PstnSlot::on_hdlc_ready() {
  if (linkNotify) linkNotify->on_hdlc_ready();
}

void PstnSlot::transmit(Packet& p) { hdlc.hdlc_transmit(p); }

// ---- the family ----

void PstnSlot::on_activated(Protocol*) {
  UpdateISDN_Statistics();
  UpdateSS7_Statistics();
  OnActivated();
}

void PstnSlot::on_deactivated(Protocol*, Protocol_status) {
  UpdateISDN_Statistics();
  UpdateSS7_Statistics();
  OnUpdateTimer();
  OnDeactivated();
}

void PstnSlot::on_message(Packet& p) { ReportUserData(*this, p); }

void PstnSlot::OnLAPD_FlowStatusChange(ISDN::LAPD* link) {
  LGCP::IoctlResponse response;
  response.set_isdnLinkStatus(link->flow_status() == ISDN::LAPD::FlowStatus::busy ? LGCP::IsdnLinkStatus::congested
                                                                                  : LGCP::IsdnLinkStatus::normal);
  OnIoctlResponse(response);
}

// ---- statistics ----

void PstnSlot::OnUpdateTimer() {
  updateTimer.set(update_ms, &PstnSlot::OnUpdateTimer, this);
  UpdateHDLC_Statistics();
  UpdateISDN_Statistics();
  UpdateSS7_Statistics();
}

void PstnSlot::UpdateHDLC_Statistics() { ReportHdlcLinkInfo(*this, hdlc); }

void PstnSlot::UpdateISDN_Statistics() {
  if (lapd) ReportIsdnLinkInfo(*this, *lapd);
}

void PstnSlot::UpdateSS7_Statistics() {
  if (!slc) return;
  const SS7::SLC::Statistics& s = slc->statistics();
  LGCP::IoctlResponse response;
  ACP::SS7LinkInfo& info = response.select_ss7LinkInfo();
  info.set_msuTxCount(s.msuTxCount);
  info.set_msuRxCount(s.msuRxCount);
  info.set_octetsTx(s.octetsTx);
  info.set_octetsRx(s.octetsRx);
  info.set_speedRx(0);
  info.set_speedTx(0);
  info.set_overflowCntr(s.overflowCntr);
  info.set_rtbSize(s.rtbSize);
  info.set_repeatCntr(s.repeatCntr);
  info.set_badSeqCntr(s.badSeqCntr);
  info.set_ss7state(static_cast<ACP::SS7State::NamedNumber>(slc->get_state_id()));
  OnIoctlResponse(response);
}

// ---- the factory ----

Slot* PstnFactory::INewSlot(const LGCP::CreateParams& params) {
  if (params.getSelection() != LGCP::CreateParams::e_pstn) return nullptr;
  return new PstnSlot(params.get_pstn());
}

void PstnFactory::SelfSignal(const LGCP::Signal& signal) {
  if (signal.getSelection() != LGCP::Signal::e_trunkStatus) return;
  const ACP::TrunkStatus& status = signal.get_trunkStatus();
  const auto trunk = static_cast<unsigned>(status.get_trunk().getValue());
  const auto state = static_cast<ACP::TrunkState::NamedNumber>(status.get_state().getValue());
  // A copy: a link that goes down reports to the controller meanwhile.
  const std::vector<Slot*> mine = slots();
  for (Slot* slot : mine) static_cast<PstnSlot*>(slot)->OnTrunkStatus(trunk, state);
}
