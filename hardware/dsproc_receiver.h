#pragma once
// Per-timeslot clients of the board's voice-processing DSP.
//
// DSProcReceiverService owns the device, sends the per-timeslot requests and
// reads the event stream. A DSProcReceiver is the abstract client of one
// timeslot (mixer ports, RTP and radio slots derive from it):
//
//   class Port : private Hardware::DSProcReceiver {
//     void dsproc_vad_event(const Hardware::DSProcVADEvent& e) override;
//     void dsproc_bss_event(const ::dsproc_bss_event* e) override;
//     void dsproc_sd_event(const Hardware::DSProcSDEvent& e) override;
//     void dsproc_tone_flt_event(const dsproc_tone_event* e) override;
//     void dsproc_flags_event(const ::dsproc_flags_event* e) override;
//     unsigned dsproc_timeslot() const override { return ts_; }
//    public:
//     ~Port() { CleanBeforeDestroy(); }   // while dsproc_timeslot() still works
//   };
//
// (The BSS and flags payload types share their names with the handlers, so
// inside a receiver they are written ::dsproc_bss_event and
// ::dsproc_flags_event.)
//
// An event goes to the first receiver (oldest first) with the event's
// timeslot: VAD and SD events only while the feature is on and the event
// carries the id of its latest enabling, BSS events while BSS is on, tone
// filter and flags events always.
#include <cstdint>

#include "asn1/modules/LGCP.h"
#include "hardware/dsp_records.h"
#include "hardware/timeslot_event_service.h"

namespace Hardware {

// A VAD event: -1 for a direction the event carries no value for.
struct DSProcVADEvent {
  std::int32_t rx;
  std::int32_t tx;
};

struct DSProcSDEvent {
  std::int32_t value;
};

class DSProcReceiver;

class DSProcReceiverService : public TimeslotEventService<dsproc::dsproc_event, DSProcReceiver> {
 public:
  // The switchable features, each with its mask bit and its own state.
  enum Feature { VAD, BSS, NG, SELCAL_SH, SD };

  // The process-wide service, built (and the device opened) on first use.
  static DSProcReceiverService& instance();

  DSProcReceiverService();  // opens the device

  // Each returns true when the driver took the request.
  bool configureVAD(unsigned timeslot, const LGCP::VADParams& params);
  bool configureSD(unsigned timeslot);
  bool configureDelays(unsigned timeslot, unsigned rx, unsigned tx, unsigned selcal);
  bool configureRxGain(unsigned timeslot, signed char gain_dB);
  bool configureToneFilter(unsigned timeslot, unsigned freq, unsigned enable, int duration_ms, int level_db);
  bool enable(DSProcReceiver& receiver, Feature feature, bool on);
  bool enableMute(DSProcReceiver& receiver, bool rx, bool tx);
  bool disableToneAll(unsigned timeslot);

 private:
  bool configure(dsproc::dsproc_configure& rec, const char* failText);
  // DSPROC_ENABLE of mask with a fresh id (kept in id), or DSPROC_DISABLE;
  // its log lines call it `name`.
  bool switchMask(unsigned timeslot, const char* name, std::uint32_t mask, bool on, std::uint32_t& id);
  void dispatch(const dsproc::dsproc_event& event) override;
};

class DSProcReceiver {
 public:
  DSProcReceiver() = default;           // joins the receiver list (at its end)
  virtual ~DSProcReceiver() = default;  // leaves it
  DSProcReceiver(const DSProcReceiver&) = delete;
  DSProcReceiver& operator=(const DSProcReceiver&) = delete;

  virtual void dsproc_vad_event(const DSProcVADEvent& event) = 0;
  virtual void dsproc_bss_event(const ::dsproc_bss_event* event) = 0;
  virtual void dsproc_sd_event(const DSProcSDEvent& event) = 0;
  virtual void dsproc_tone_flt_event(const ::dsproc_tone_event* event) = 0;
  virtual void dsproc_flags_event(const ::dsproc_flags_event* event) = 0;
  virtual unsigned dsproc_timeslot() const = 0;

  // Each returns true when the driver took the request (or when the
  // feature is already in the state asked for).
  bool configureVAD(const LGCP::VADParams& params);
  bool enableVAD(bool on) { return enable(DSProcReceiverService::VAD, on); }
  bool disableVAD() { return enableVAD(false); }
  bool enableBSS(bool on) { return enable(DSProcReceiverService::BSS, on); }
  bool disableBSS() { return enableBSS(false); }
  bool enableNG(bool on) { return enable(DSProcReceiverService::NG, on); }
  bool disableNG() { return enableNG(false); }
  bool enableSelcalSh(bool on) { return enable(DSProcReceiverService::SELCAL_SH, on); }
  bool disableSelcalSh() { return enableSelcalSh(false); }
  bool configureSD();
  bool enableSD(bool on) { return enable(DSProcReceiverService::SD, on); }
  bool disableSD() { return enableSD(false); }
  bool enableMute(bool rx, bool tx);
  bool disableMute() { return enableMute(false, false); }
  bool configureDelays(unsigned rx, unsigned tx, unsigned selcal);
  bool configureRxGain(signed char gain_dB);
  bool configureToneFilter(unsigned freq, unsigned enable, int duration_ms, int level_db);
  bool disableToneAll();

  // Switches off VAD, BSS, NG and SELCAL_SH where on, resets delays and
  // receive gain where set, and switches every tone filter off. Owners call
  // it before they go.
  void CleanBeforeDestroy();

  // A feature's state: -1 never set, 0 off, 1 on.
  int state(DSProcReceiverService::Feature feature) const { return feature_[feature].state; }
  std::uint32_t id(DSProcReceiverService::Feature feature) const { return feature_[feature].id; }
  int rx_mute() const { return rxMute_; }
  int tx_mute() const { return txMute_; }
  std::uint32_t mute_id() const { return muteId_; }
  bool delays_set() const { return delaysSet_; }
  bool rx_gain_set() const { return rxGainSet_; }

 private:
  friend class DSProcReceiverService;
  struct FeatureState {
    int state;
    std::uint32_t id;
  };

  bool enable(DSProcReceiverService::Feature feature, bool on);

  // VAD and SD start unknown, so that their first switching is always sent.
  FeatureState feature_[5] = {{-1, 0}, {0, 0}, {0, 0}, {0, 0}, {-1, 0}};
  int rxMute_ = -1;
  int txMute_ = -1;
  std::uint32_t muteId_ = 0;
  bool delaysSet_ = false;
  bool rxGainSet_ = false;
  DSProcReceiverService::Member member_{this};
};

}  // namespace Hardware
