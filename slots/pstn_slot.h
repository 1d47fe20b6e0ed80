#pragma once
// PSTN signalling slots: the layer 2 of one signalling channel of the
// telephone network, run on an HDLC channel of the multi-channel controller.
//
// Created from LGCP::PstnParams, a slot stacks in its own protocol family
// one link: an SS7 signalling link (SS7::SLC), a Q.921 data link
// (ISDN::LAPD: PRI user or network side, BRI user side), the network side
// of a BRI D channel (ISDN::LAPD_NT), or nothing for a CAS channel. The
// channel is allocated and switched when the slot is connected as the
// receiver of the trunk timeslot that carries the signalling channel (a BRI
// slot waits for both directions, in either order), or activated while so
// connected; a cut closes it and forgets the line. An open SS7, PRI or CAS
// channel connected again towards the line it hears drives it again.
// Layer-3 messages travel as userData both ways; HDLC, ISDN and SS7
// statistics go up as "ioctl" signals every 3000 ms and when the link
// changes state.
//
// The family owns the link; the slot joins it to the channel: frames the
// channel receives go to the link (to the family's bottom for the BRI
// network side, which also sends through the family's transmit), readiness
// goes to the link, and a channel that fails or is cut releases the link at
// once, without a frame sent.
#include <cstdint>
#include <vector>

#include "hardware/hdlc.h"
#include "links/isdn/lapd.h"
#include "runtime/protocol.h"
#include "runtime/timer.h"
#include "slots/slot.h"
#include "slots/slot_factory.h"

namespace ISDN {
class LAPD_NT;
}
namespace SS7 {
class SLC;
}

class PstnSlot : public Slot, public ProtocolsFamily, public ISDN::LAPD::Notify, public HDLC::Notify {
 public:
  // What the slot carries (a CAS slot is kind 0 without a link).
  enum Kind { ss7 = 0, pri = 1, bri = 2, bri_network = 3 };
  // The statistics cycle.
  static constexpr unsigned update_ms = 3000;

  explicit PstnSlot(const LGCP::PstnParams& params);
  ~PstnSlot() override;

  // Slot
  const char* GetName() const override { return "pstn"; }
  int GetConnectionPriority() const override { return 1; }
  bool IOnOutputStream() override { return true; }
  bool IOnInputStream() override { return true; }
  bool IActivate(const TERM::TermActivateParams& params) override;
  bool IDeactivate() override;
  bool IUserData(const std::vector<char>& data) override;
  bool Ioctl(const LGCP::IoctlParams& params) override;
  bool IHwConnectReceiver(Slot& source) override;
  bool IHwConnectTransmitter(Slot& receiver) override;
  bool IHwDisconnectReceiver(Slot& source) override;
  bool IHwDisconnectTransmitter(Slot& receiver) override;
  void OnTrunkStatus(unsigned trunk, ACP::TrunkState::NamedNumber state) override;

  // HDLC::Notify
  void on_hdlc_receive(Packet& frame) override;
  void on_hdlc_error(Cause::Type cause) override;
  void on_hdlc_ready() override;

  // The family's callbacks and its bottom.
  void on_activated(Protocol* top) override;
  void on_deactivated(Protocol* reporter, Protocol_status status) override;
  void on_message(Packet& p) override;
  void transmit(Packet& p) override;
  bool compare_name(const Protocol_name& n) const override { return name_.compare(n); }
  const Protocol_name& name() const override { return name_; }

  // ISDN::LAPD::Notify
  void OnLAPD_FlowStatusChange(ISDN::LAPD* link) override;

  Kind kind() const { return kind_; }
  const HDLC& channel() const { return hdlc; }
  // The link, null where the slot has none of that kind.
  const SS7::SLC* slc_link() const { return slc; }
  const ISDN::LAPD* lapd_link() const { return lapd; }
  const ISDN::LAPD_NT* lapd_nt_link() const { return lapdNt; }

 private:
  // Allocates and switches the channel, then starts the link; a slot not
  // connected, or a channel that cannot be had, is reported as "deactivated".
  void iactivate();
  // The connection of one direction is cut: the channel closes and the
  // line of that direction is forgotten.
  void Cut(bool receive);
  // The channel has closed under the link: the link is released at once,
  // sending nothing, and the controller hears "deactivated" once.
  void LinkLost();
  bool BriKind() const { return kind_ == bri || kind_ == bri_network; }
  // The channel mode of the kind: 0 SS7, 1 PRI, 2 BRI.
  int ChannelMode() const;

  void OnUpdateTimer();
  void UpdateHDLC_Statistics();
  void UpdateISDN_Statistics();
  void UpdateSS7_Statistics();

  Protocol_name_str name_{"PSTN"};
  HDLC hdlc;
  Kind kind_ = ss7;
  std::uint32_t trunkIndex = 0;  // the controller's trunk number minus 1 (SS7 and LAPD links)
  SS7::SLC* slc = nullptr;            // owned by the family
  ISDN::LAPD* lapd = nullptr;         // owned by the family
  ISDN::LAPD_NT* lapdNt = nullptr;    // owned by the family
  HDLC::Notify* linkNotify = nullptr;  // the link's own channel callbacks (SLC, LAPD)
  ACP::TrunkState::NamedNumber lastTrunkState = ACP::TrunkState::unknown;
  Timer updateTimer;
};

class PstnFactory : public SlotFactory {
 public:
  static PstnFactory& instance() {
    static PstnFactory factory;
    return factory;
  }

  const char* GetName() const override { return "PSTN"; }
  Slot* INewSlot(const LGCP::CreateParams& params) override;
  void Query(LGCP::Resources&) override {}
  // Trunk status goes to every PSTN slot.
  void SelfSignal(const LGCP::Signal& signal) override;

 private:
  PstnFactory() = default;
};
