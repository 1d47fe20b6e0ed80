#pragma once
// The controller's slots on a mixer device (mixer.h).
//
// TdmInput: a mixer channel fed from the matrix; another slot is connected
// to it as its source. It may be added to one summator at unity weight, and
// it detects digits, tones, voice activity and signals on its timeslot.
// TdmOutput: a summator whose sum goes out on its timeslot to the slots it
// is connected to; it generates tones and digit strings there.
//
// Neither announces a stream when it is made: the stream goes active with
// the first connection. On destroy the timeslot stops being driven on the
// matrix and the slot's part of the device is undone (the input leaves its
// summator, the output's sum is emptied).
#include "hardware/dsproc_receiver.h"
#include "hardware/tonec_receiver.h"
#include "slots/slot.h"

namespace Mixer {

class Mixer;

class MixerSlot : public Slot {
 public:
  // A slot deleted while still on its device leaves it.
  ~MixerSlot() override;

  // The device, null once the slot has let go of it.
  Mixer* mixer() const { return mixer_; }

 private:
  friend class Mixer;
  Mixer* mixer_ = nullptr;
};

class TdmInput : public MixerSlot, private Hardware::TonecReceiver, private Hardware::DSProcReceiver {
 public:
  TdmInput(int channel, int timeslot) : channel_(channel), timeslot_(timeslot) {}
  ~TdmInput() override;

  bool IBeforeDestroy() override;
  bool Ioctl(const LGCP::IoctlParams& params) override;
  bool IOnInputStream() override { return true; }
  int IGetReceiveChannel() const override { return timeslot_; }
  const char* GetName() const override { return "mixer tdm input"; }

  int channel() const { return channel_; }
  int timeslot() const { return timeslot_; }
  // The summator it was added to, -1 for none.
  int summator() const { return summator_; }

 private:
  friend class Mixer;

  void tonec_event(const Params& params) override { processTonecEvent(params); }
  unsigned tonec_timeslot() const override { return static_cast<unsigned>(timeslot_); }
  void dsproc_vad_event(const Hardware::DSProcVADEvent& event) override { processVADEvent(event); }
  void dsproc_bss_event(const ::dsproc_bss_event* event) override { processBSSEvent(event); }
  void dsproc_sd_event(const Hardware::DSProcSDEvent& event) override { processSDEvent(event); }
  void dsproc_tone_flt_event(const dsproc_tone_event* event) override { processToneFltEvent(event); }
  void dsproc_flags_event(const ::dsproc_flags_event* event) override { processFlagsEvent(event); }
  unsigned dsproc_timeslot() const override { return static_cast<unsigned>(timeslot_); }

  const int channel_;
  const int timeslot_;
  int summator_ = -1;
};

class TdmOutput : public MixerSlot, private Hardware::TonecReceiver, private Hardware::DSProcReceiver {
 public:
  TdmOutput(int channel, int timeslot) : channel_(channel), timeslot_(timeslot) {}
  ~TdmOutput() override;

  bool IBeforeDestroy() override;
  bool Ioctl(const LGCP::IoctlParams& params) override;
  bool IOnOutputStream() override { return true; }
  int IGetTransmitChannel() const override { return timeslot_; }
  const char* GetName() const override { return "mixer tdm output"; }

  int channel() const { return channel_; }
  int timeslot() const { return timeslot_; }

 private:
  friend class Mixer;

  // Detectors are the inputs' business; the output reports the end of a
  // digit string it played and its tone filters and flags.
  void tonec_event(const Params&) override {}
  unsigned tonec_timeslot() const override { return static_cast<unsigned>(timeslot_); }
  void tone_gen_complete() override { processToneGenEvent(); }
  void dsproc_vad_event(const Hardware::DSProcVADEvent&) override {}
  void dsproc_bss_event(const ::dsproc_bss_event*) override {}
  void dsproc_sd_event(const Hardware::DSProcSDEvent&) override {}
  void dsproc_tone_flt_event(const dsproc_tone_event* event) override { processToneFltEvent(event); }
  void dsproc_flags_event(const ::dsproc_flags_event* event) override { processFlagsEvent(event); }
  unsigned dsproc_timeslot() const override { return static_cast<unsigned>(timeslot_); }

  const int channel_;
  const int timeslot_;
};

}  // namespace Mixer
