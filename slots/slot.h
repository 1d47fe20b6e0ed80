#pragma once
// The base of every slot: one endpoint the controller addresses by number
// (a trunk timeslot, a bus channel, an RTP session, a signalling link...).
//
// How a slot type plugs in
// ------------------------
// 1. Derive from Slot and override only the hooks the type needs; a hook
//    left alone answers the controller `unsupported` (IActivate,
//    IDeactivate, IUserData, Ioctl) or refuses a connection (IOnOutputStream,
//    IOnInputStream answer false). GetName() is the one hook every type
//    writes. Media streams: IGetTransmitChannel/IGetReceiveChannel name the
//    TDM channels, and the default hardware hooks switch them on HwMux; a
//    type that must do the switching itself returns a higher
//    GetConnectionPriority() and overrides the four IHw... hooks.
//    IAfterCreate runs right after the create has been answered: announce
//    streams there (OnChangeOutputStream / OnChangeInputStream).
// 2. Driver events become controller signals through the senders (OnNumber,
//    OnAbort, OnUserData, ...) and the translations (processTonecEvent,
//    processVADEvent, ...): a type that owns a Hardware::TonecReceiver or
//    Hardware::DSProcReceiver passes their events to these.
// 3. Destroy: Slots has cut every connection and set releasing() before
//    IBeforeDestroy runs. Return true and the slot is deleted at once.
//    Return false when something must finish first (a child process, a
//    driver): when it has, call on_release() from the loop (a timer, a
//    ChildWait, an event handler; never from inside IBeforeDestroy), which
//    answers a delayed destroy and deletes the slot, so touch nothing of it
//    afterwards. A slot still releasing when the controller goes is deleted
//    after a short pause without on_release: its destructor must free what
//    it holds and take the slot off every list of its own that the factory
//    keeps (the factory's slots() list is done for it).
// 4. A factory derives from SlotFactory (slot_factory.h), answers
//    INewSlot for its CreateParams alternative and adds its counts in
//    Query; a factory that hands a resource to a new slot destroys its old
//    holder with Slots::instance().Destroy(old). A singleton factory is
//    built by the process entry (BuildSlotFactories in
//    runtime/main/entry.cpp): the order there decides the order in which
//    the chain is asked, the last built first.
#include <cstdint>
#include <iosfwd>
#include <string>
#include <vector>

#include "asn1/modules/ACP.h"
#include "asn1/modules/LGCP.h"
#include "asn1/modules/TERM.h"
#include "asn1/modules/VESKGW.h"
#include "control/ctrl_service.h"
#include "hardware/dsp_records.h"
#include "hardware/dsproc_receiver.h"
#include "hardware/tonec_receiver.h"
#include "platform/rtp_records.h"

class SlotFactory;
class Slots;

class Slot {
 public:
  Slot() = default;
  Slot(const Slot&) = delete;
  Slot& operator=(const Slot&) = delete;
  virtual ~Slot();

  // Hooks, with the base's answer.
  virtual int GetTrunk() const;          // -1
  virtual int GetTrunkTimeSlot() const;  // -1
  // Trunk status passed on by a factory that wants it for its slots.
  virtual void OnTrunkStatus(unsigned trunk, ACP::TrunkState::NamedNumber state);
  // Right after the create command has been answered with success.
  virtual void IAfterCreate();
  // True: delete now. False: the release goes on; on_release() follows.
  virtual bool IBeforeDestroy();
  // Controller commands; false answers unsupported.
  virtual bool IActivate(const TERM::TermActivateParams& params);
  virtual bool IDeactivate();
  virtual bool IUserData(const std::vector<char>& data);
  virtual bool Ioctl(const LGCP::IoctlParams& params);
  // Of a source and a receiver, the one with the higher priority switches
  // the hardware; the receiver on a tie.
  virtual int GetConnectionPriority() const;  // 0
  virtual bool IHwConnectTransmitter(Slot& receiver);     // MuxConnect(*this, receiver)
  virtual bool IHwConnectReceiver(Slot& source);          // MuxConnect(source, *this)
  virtual bool IHwDisconnectTransmitter(Slot& receiver);  // MuxDisconnect(receiver)
  virtual bool IHwDisconnectReceiver(Slot& source);       // MuxDisconnect(*this)
  // Prepare to transmit / receive; false: the slot has no such stream.
  virtual bool IOnOutputStream();
  virtual bool IOnInputStream();
  // The last receiver / the source has gone.
  virtual void IOnOutputRelease();
  virtual void IOnInputRelease();
  // The TDM channel carrying this slot's output / its input; -1 for none.
  virtual int IGetTransmitChannel() const;
  virtual int IGetReceiveChannel() const;
  virtual const char* GetName() const = 0;

  // "07:trunk": the number (at least two digits), "na" before it has one.
  void Put(std::ostream& s) const;

  // Signals to the controller, each carrying this slot's number.
  void SendSignal(const LGCP::Signal& signal);
  void OnTonecEvent(const LGCP::TonecEvent& event);
  void OnNumber(const std::string& number);
  void OnModem(const TERM::ModemProceeding& proceeding);
  void OnModem(const TERM::ModemInformation& information);
  void OnActivated();
  void OnDeactivated();  // cause networkError
  void OnAbort(int code);
  void OnUserData(const std::vector<char>& data);
  void OnIoctlResponse(const LGCP::IoctlResponse& response);
  void OnRtpRadioEvent(const TERM::RtpRadioRequest& request);
  void OnVADEvent(const LGCP::VADEvent& event);
  void OnProtoVeskEvent(const VESKGW::ProtoVeskPackets& packets);
  void OnSDEvent(const LGCP::SDEvent& event);
  void OnRtpEvent(const LGCP::RtpEvent& event);

  // Announce a stream as active (with its channel) or inactive, only when
  // that changes what was announced. An input going inactive cuts the slot
  // from its source; an output going inactive cuts every receiver.
  void OnChangeInputStream(bool active);
  void OnChangeOutputStream(bool active);

  // The factory lets go of the slot after IBeforeDestroy said yes.
  bool BeforeDestroy();
  // A release that IBeforeDestroy left running has finished: the delayed
  // destroy is answered and the slot deleted.
  void on_release();

  void LogicalConnect(Slot& source);
  void LogicalDisconnect();

  // Driver events as controller signals: tones and digits, the end of a
  // generated sequence, voice activity, tone filters, DSP flags, BSS
  // scores, signal detection, RTP packet detection. What cannot be mapped
  // is logged and dropped.
  void processTonecEvent(const Hardware::TonecReceiver::Params& params);
  void processToneGenEvent();
  void processVADEvent(const Hardware::DSProcVADEvent& event);
  void processToneFltEvent(const dsproc_tone_event* event);
  void processFlagsEvent(const dsproc_flags_event* event);
  void processBSSEvent(const dsproc_bss_event* event);
  void processSDEvent(const Hardware::DSProcSDEvent& event);
  void processRtpEvent(const rtp_event& event);

  int id() const { return id_; }
  // The slots this one feeds, sorted by address, and the one feeding it.
  const std::vector<Slot*>& receivers() const { return receivers_; }
  Slot* source() const { return source_; }
  SlotFactory* factory() const { return factory_; }
  bool inputActive() const { return inputActive_; }
  bool outputActive() const { return outputActive_; }
  bool releasing() const { return releasing_; }

 private:
  friend class SlotFactory;
  friend class Slots;

  std::int32_t id_ = -1;
  std::vector<Slot*> receivers_;
  Slot* source_ = nullptr;
  SlotFactory* factory_ = nullptr;
  bool inputActive_ = false;
  bool outputActive_ = false;
  bool releasing_ = false;
  // A destroy request whose answer waits for the release, and its seq
  // (none when the request had none).
  bool delayed_ = false;
  CtrlSrv::DelayedSeq delayedSeq_;
};

std::ostream& operator<<(std::ostream& s, const Slot& slot);

// Feeds the receiver from the source (a receiver fed by another source is
// moved). False when either has no such stream or the hardware refused.
bool Connect(Slot& source, Slot& receiver);
// Cuts the receiver from its source; the logical link goes even when the
// hardware refused (false).
bool Disconnect(Slot& receiver);
// The hardware step, by the slot of the higher connection priority.
bool llConnect(Slot& source, Slot& receiver);
bool llDisconnect(Slot& receiver);
// The default hardware path: the switching matrix.
bool MuxConnect(Slot& source, Slot& receiver);
bool MuxDisconnect(Slot& receiver);
