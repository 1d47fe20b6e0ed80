#pragma once
// ISDN and ATS-QSIG slots: an ISDN D channel whose Q.921 data link runs
// inside the slot, on a data channel the slot reads and writes itself.
//
// The slot is the link's HDLC transport (GenericHDLC): one write is one
// frame, a write that meets a full queue (EAGAIN) is refused and the link
// hears of readiness once the channel can take frames again. Its TDM
// channel is switched like any ordinary slot's: the controller connects it
// to and from the slot that carries the D channel. Layer-3 messages travel
// as userData both ways; the link's statistics go up as isdnLinkInfo when
// it comes up or goes down. With the "signalling.isdn" trace switch every
// frame read and written is logged.
//
// Three kinds come from one factory:
//   isdn        a channel of the multi-channel controller ("/dev/mcc/ctl"),
//               BRI or PRI;
//   ats-qsig    a D channel of the DSP data driver ("/dev/dsp-data"), which
//               also opens up to three B channels;
//   ats-qsig-b  one of those B channels, a plain media slot with the TDM
//               channel the driver gave it. It belongs to the ATS-QSIG slot
//               that opened it: destroying it releases the channel there,
//               and after that slot has gone it releases nothing.
#include <vector>

#include "hardware/hdlc.h"
#include "links/isdn/lapd.h"
#include "runtime/event.h"
#include "runtime/fd.h"
#include "runtime/protocol.h"
#include "slots/slot.h"
#include "slots/slot_factory.h"

class IsdnSlot : public Slot, public ProtocolsFamily, public ISDN::LAPD::Notify, public GenericHDLC {
 public:
  // A data channel already allocated on `fd` (the slot keeps a duplicate),
  // on TDM channel `channel`; the link joins the family. `eventName` names
  // the slot's watch of the descriptor in diagnostics.
  IsdnSlot(const Fd& fd, int channel, ISDN::LAPD* link, const char* eventName = "IsdnSlot::OnEvent");
  ~IsdnSlot() override;

  // Slot
  const char* GetName() const override { return "MCC"; }
  bool IOnOutputStream() override { return true; }
  bool IOnInputStream() override { return true; }
  // -1 once the descriptor is gone: the number may be another slot's now.
  int IGetTransmitChannel() const override { return is_open() ? channel : -1; }
  int IGetReceiveChannel() const override { return is_open() ? channel : -1; }
  bool IActivate(const TERM::TermActivateParams& params) override;
  bool IDeactivate() override;
  bool IUserData(const std::vector<char>& data) override;

  // GenericHDLC
  bool hdlc_transmit(Packet& frame) override;
  bool is_open() const override { return event.fd().valid(); }
  bool is_ready() const override { return ready; }

  // The family's callbacks and its bottom.
  void on_activated(Protocol* top) override;
  void on_deactivated(Protocol* reporter, Protocol_status status) override;
  void on_message(Packet& p) override;
  void transmit(Packet&) override {}  // frames leave through hdlc_transmit
  bool compare_name(const Protocol_name& n) const override { return name_.compare(n); }
  const Protocol_name& name() const override { return name_; }

  // ISDN::LAPD::Notify
  void OnLAPD_FlowStatusChange(ISDN::LAPD*) override {}

  const ISDN::LAPD& link() const { return *lapd; }
  // The descriptor the slot reads and writes (-1 once released).
  int descriptor() const { return event.fd().get(); }

 protected:
  // Frames read, readiness of the descriptor.
  virtual void OnEvent(int fd, short revents);
  // Stops driving the channel's receiver, stops watching the descriptor and
  // closes the slot's duplicate.
  void ReleaseDescriptor();

 private:
  void UpdateISDN_Statistics();
  void Trace(const char* way, const Packet& frame) const;

  int channel;
  Event event;
  ISDN::LAPD* lapd;  // owned by the family
  bool ready = false;
  Packet rx_;  // the last frame read, its buffer reused when no layer kept it
  Protocol_name_str name_{"ISDN/HDLC"};
};

class AtsQsigBSlot;

class AtsQsigSlot : public IsdnSlot {
 public:
  AtsQsigSlot(const Fd& fd, int channel, ISDN::LAPD* link);
  // Its B slots stay, released from it.
  ~AtsQsigSlot() override;

  const char* GetName() const override { return "ATS-QSIG"; }
  bool IBeforeDestroy() override;

  // Opens B channel `index` (0..2) on the slot's descriptor; a new B slot,
  // or null with a line on the error stream.
  AtsQsigBSlot* NewBChannel(unsigned index);
  // Releases a B channel of one of its B slots.
  void ReleaseBChannel(const AtsQsigBSlot& b);
  // A B slot goes.
  void Forget(AtsQsigBSlot* b);

 private:
  std::vector<AtsQsigBSlot*> bSlots_;
};

class AtsQsigBSlot : public Slot {
 public:
  AtsQsigBSlot(AtsQsigSlot& parent, unsigned index, int bChannel)
      : parent_(&parent), index(index), bChannel(bChannel) {}
  ~AtsQsigBSlot() override;

  const char* GetName() const override { return "ATS-QSIG-B"; }
  bool IOnOutputStream() override { return true; }
  bool IOnInputStream() override { return true; }
  // -1 once the parent has gone: its descriptor took the channel along.
  int IGetTransmitChannel() const override { return parent_ ? bChannel : -1; }
  int IGetReceiveChannel() const override { return parent_ ? bChannel : -1; }
  bool IBeforeDestroy() override;

  unsigned get_index() const { return index; }
  int get_channel() const { return bChannel; }
  // The parent, null once it has gone.
  AtsQsigSlot* parent() const { return parent_; }
  void Orphan() { parent_ = nullptr; }

 private:
  AtsQsigSlot* parent_;
  const unsigned index;
  const int bChannel;
};

class IsdnFactory : public SlotFactory {
 public:
  static IsdnFactory& instance() {
    static IsdnFactory factory;
    return factory;
  }

  const char* GetName() const override { return "ISDN"; }
  Slot* INewSlot(const LGCP::CreateParams& params) override;
  void Query(LGCP::Resources&) override {}

  // The slot of this factory under that number, or null.
  Slot* FindSlot(unsigned number) const;

 private:
  IsdnFactory() = default;
  Slot* NewIsdnSlot(const LGCP::IsdnParams& params);
  Slot* NewAtsQsigSlot(const LGCP::AtsQsigParams& params);
  Slot* NewAtsQsigBSlot(const LGCP::AtsQsigBParams& params);
};
