#pragma once
// A slot type for tests only, in the unit tests and in the test build of
// the daemon (korvend-sim-probe), taken from the create alternatives that
// no real factory serves:
//
//   create : usb-tdm : { channel C }   a probe whose destroy finishes late
//   create : spi-tdm : { channel C }   a quiet probe, destroyed at once
//
// A probe transmits and receives on TDM channel C. The late kind announces
// both streams after its creation and switches on every tone and DSP
// detector of timeslot C, whose events it turns into signals; its release
// finishes after the next userData command to it while it releases (or
// when a unit test calls on_release()). The quiet kind announces a stream
// only when a connection needs it. The factory reports the number of live
// probes as `lin16` and passes trunk status to each of them.
//
// Unit tests turn the knobs and read the journal of hook calls, one line a
// call: "05:probe IOnOutputStream".
#include <string>
#include <vector>

#include "runtime/timer.h"
#include "slots/slot.h"
#include "slots/slot_factory.h"

class ProbeSlot : public Slot, private Hardware::TonecReceiver, private Hardware::DSProcReceiver {
 public:
  ProbeSlot(int channel, bool lateRelease);

  static std::vector<std::string>& journal();

  // Knobs.
  bool hasOutput = true;
  bool hasInput = true;
  int priority = 0;
  int transmitChannel;
  int receiveChannel;
  bool lateRelease;
  // Trunk status reports seen.
  int trunkReports = 0;

  // Hooks, each noted in the journal.
  void OnTrunkStatus(unsigned trunk, ACP::TrunkState::NamedNumber state) override;
  void IAfterCreate() override;
  bool IBeforeDestroy() override;
  bool IUserData(const std::vector<char>& data) override;
  int GetConnectionPriority() const override { return priority; }
  bool IHwConnectTransmitter(Slot& receiver) override;
  bool IHwConnectReceiver(Slot& source) override;
  bool IHwDisconnectTransmitter(Slot& receiver) override;
  bool IHwDisconnectReceiver(Slot& source) override;
  bool IOnOutputStream() override;
  bool IOnInputStream() override;
  void IOnOutputRelease() override;
  void IOnInputRelease() override;
  int IGetTransmitChannel() const override { return transmitChannel; }
  int IGetReceiveChannel() const override { return receiveChannel; }
  const char* GetName() const override { return "probe"; }

 private:
  void note(const std::string& what) const;
  void OnReleaseDone();

  void tonec_event(const Params& params) override { processTonecEvent(params); }
  unsigned tonec_timeslot() const override { return static_cast<unsigned>(channel_); }
  void tone_gen_complete() override { processToneGenEvent(); }
  void dsproc_vad_event(const Hardware::DSProcVADEvent& event) override { processVADEvent(event); }
  void dsproc_bss_event(const ::dsproc_bss_event* event) override { processBSSEvent(event); }
  void dsproc_sd_event(const Hardware::DSProcSDEvent& event) override { processSDEvent(event); }
  void dsproc_tone_flt_event(const dsproc_tone_event* event) override { processToneFltEvent(event); }
  void dsproc_flags_event(const ::dsproc_flags_event* event) override { processFlagsEvent(event); }
  unsigned dsproc_timeslot() const override { return static_cast<unsigned>(channel_); }

  const int channel_;
  Timer release_;
};

class ProbeFactory : public SlotFactory {
 public:
  const char* GetName() const override { return "Probe"; }
  Slot* INewSlot(const LGCP::CreateParams& params) override;
  void Query(LGCP::Resources& resources) override;
  void SelfSignal(const LGCP::Signal& signal) override;
};

// Built before main, like the trunk factories: at the end of the chain.
extern ProbeFactory probeFactory;
