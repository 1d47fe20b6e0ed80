#pragma once
// Per-timeslot clients of the board's tone processor.
//
// TonecReceiverService owns the device: it sends every per-timeslot request
// and reads the event stream. A TonecReceiver is the abstract client of one
// timeslot (mixer ports, RTP and radio slots derive from it): it names its
// timeslot, switches detectors and generators through the service, and is
// handed the events of its timeslot.
//
//   class Port : private Hardware::TonecReceiver {
//     void tonec_event(const Params& p) override { ... p.code ... }
//     unsigned tonec_timeslot() const override { return ts_; }
//     void tone_gen_complete() override { ... the digits are out ... }
//    public:
//     ~Port() { CleanBeforeDestroy(); }   // while tonec_timeslot() still works
//   };
//
// An event goes to the first receiver (oldest first) with the event's
// timeslot, and only while its DTMF or IVA detection is on and the event
// carries the id of its latest DTMF enabling.
//
// The receiver also plays two tone sequences on its own timer: the audible
// waiting tone and the dialling of a DTMF digit string.
#include <cstdint>
#include <map>
#include <utility>

#include "asn1/modules/LGCP.h"
#include "asn1/modules/TERM.h"
#include "hardware/timeslot_event_service.h"
#include "hardware/tone_records.h"
#include "runtime/timer.h"

namespace Hardware {

class TonecReceiver;

class TonecReceiverService : public TimeslotEventService<tonec::tonec_event, TonecReceiver> {
 public:
  // The process-wide service, built (and the device opened) on first use.
  static TonecReceiverService& instance();

  // Opens the device; without it every request fails and no event comes.
  TonecReceiverService();

  // Each returns true when the driver took the request.
  bool configureDTMF(unsigned timeslot, const LGCP::DTMFParams& params);
  bool enableDTMF(TonecReceiver& receiver, bool on);
  bool echoCancel(unsigned timeslot, bool on);
  bool enableDTMFReject(unsigned timeslot, bool on);
  bool enableToneGenerator(unsigned timeslot, unsigned short freq1, unsigned short freq2, unsigned short amp1,
                           unsigned short amp2);
  bool enableIVA(TonecReceiver& receiver, bool on);
  bool configureIVA(TonecReceiver& receiver, const LGCP::IVAParams& params);
  bool translateSelcal(TonecReceiver& receiver, const TERM::SelcalCommand& command);

 private:
  void dispatch(const tonec::tonec_event& event) override;
  bool switchByValue(unsigned long code, unsigned timeslot, const char* name, const char* state);
};

class TonecReceiver {
 public:
  // What a detector reported.
  struct Params {
    std::uint32_t code;
    std::uint32_t timestamp;
  };

  TonecReceiver() = default;  // joins the receiver list (at its end)
  virtual ~TonecReceiver() = default;  // leaves it; stops a playing sequence's timer
  TonecReceiver(const TonecReceiver&) = delete;
  TonecReceiver& operator=(const TonecReceiver&) = delete;

  virtual void tonec_event(const Params& params) = 0;
  virtual unsigned tonec_timeslot() const = 0;
  // A dialled digit string has been played out.
  virtual void tone_gen_complete();

  // Each returns true when the driver took the request.
  bool configureDTMF(const LGCP::DTMFParams& params);
  bool enableDTMF(bool on);
  bool disableDTMF() { return enableDTMF(false); }
  bool echoCancel(bool on);
  bool enableDTMFReject(bool on);
  bool enableToneGenerator(unsigned short freq1, unsigned short freq2, unsigned short amp1, unsigned short amp2);
  bool enableSilence() { return enableToneGenerator(1000, 1000, 0, 0); }
  // Switches the generator off; without force only while a digit string
  // plays, which it then stops.
  bool disableToneGenerator(bool force);
  bool enableIVA(bool on);
  bool configureIVA(const LGCP::IVAParams& params);
  bool translateSelcal(const TERM::SelcalCommand& command);

  // Plays a digit string; a string given while one plays replaces the
  // digits still to come. tone_gen_complete() follows the last one.
  void translateDTMF(const LGCP::TranslateDtmfParams& params);
  // The audible waiting tone: 425 Hz, 1 s on, 3 s off, until cancelled.
  void activateAudibleCall();
  void cancelAudibleCall();

  // Switches off what this receiver switched on (DTMF and IVA detection,
  // DTMF rejection). Owners call it before they go.
  void CleanBeforeDestroy();

  // Events are taken while either detector is on.
  bool detector_enabled() const { return dtmfEnabled_ || ivaEnabled_; }
  bool dtmf_enabled() const { return dtmfEnabled_; }
  bool iva_enabled() const { return ivaEnabled_; }
  bool dtmf_reject_enabled() const { return rejectEnabled_; }
  bool dialling() const { return dialling_; }
  std::uint32_t dtmf_id() const { return dtmfId_; }

 private:
  friend class TonecReceiverService;

  void OnWaitTone();
  void OnWaitPause();
  void OnDialPause();
  void OnDialToneEnd();

  // The service keeps one flag per detector: switching one does not touch
  // the other.
  bool dtmfEnabled_ = false;
  bool ivaEnabled_ = false;
  bool rejectEnabled_ = false;
  Timer toneTimer_;
  bool dialling_ = false;
  std::uint32_t dtmfId_ = 0;
  LGCP::TranslateDtmfParams dial_;  // the digits still to play
  TonecReceiverService::Member member_{this};
};

}  // namespace Hardware

// The DTMF digits and their tone pairs (ITU-T Q.23).
namespace Dtmf {
extern const char strRep[16];  // "0123456789*#ABCD", no terminator
extern const unsigned short freq1[16];  // low group, Hz
extern const unsigned short freq2[16];  // high group, Hz
extern const std::map<char, std::pair<unsigned short, unsigned short>> tonesValidator;
}  // namespace Dtmf
