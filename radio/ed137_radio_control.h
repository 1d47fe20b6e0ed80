#pragma once
// The ED-137 radio signalling (r2s_proto in the RTP header extension) of one
// radio RTP slot, over the extension session of its radio control. The
// daemon is the radio's side: the controller decides the radio's state
// ("Radio": squelch, the PTT it echoes, the signal quality), which goes to
// the operator positions on the session ("Chan"); what they send (their
// PTT) goes to the controller as a TERM::RtpRadioRequest.
//
//   - The controller's status or request becomes the radio state, sent to
//     the channel when it changed (or always, when the session was set up
//     with no repetition of its own: words 4 or 5 of the init record 0).
//   - Payloads from the channel are read in batches, each as a tx payload:
//     each run from one session becomes one report carrying the last of the
//     run, when the radio's type and mode take a PTT, and unless it repeats
//     the last report within one status interval.
//   - On the status timer (the slot sets half the no-reception limit) the
//     radio state is sent again as a keep-alive once an interval old, and
//     while nothing has been received for keepalive_period x
//     keepalive_multiplier ms the slot is told no_reception on every tick.
//
// Times are on the wrapping loop clock: ages are signed differences
// clamped at 0, so neither the keep-alive nor the no-reception check stops
// when the clock wraps.
#include <cstdint>

#include "radio/r2s_proto.h"
#include "radio/radio_control.h"

namespace RTPSignalling {

// The session's parameters as the controller negotiated them.
struct ED137RadioParams {
  bool transmission_depends_on_squ = false;
  int sigtime = 1;                // 1 to 50
  int keepalive_period = 200;     // ms, 20 to 1000
  int keepalive_multiplier = 10;  // 2 to 50
  int radio_type = 2;             // TERM::ED137RadioType, radio-txrx
  int txrx_mode = 2;              // TERM::ED137RadioTxRxMode, txrx

  // The optional fields that are present, and always the type and mode.
  void Init(const TERM::ED137RadioResponse& response);
};

// One side's radio state: eleven words.
struct ED137RadioState {
  // Bits of flags.
  static constexpr std::uint32_t rx_direction = 0x1000;  // the radio's (squelch, SQI)
  static constexpr std::uint32_t tx_direction = 0x2000;  // an operator position's (PTT)
  static constexpr std::uint32_t directions = 0xF000;
  static constexpr std::uint32_t has_header = 0x0001;  // set with either direction
  static constexpr std::uint32_t has_sqi = 0x0002;

  std::uint32_t flags = 0;
  std::uint32_t ptt = 0;  // TERM::ED137RadioPTT
  std::uint32_t squ = 0;  // TERM::ED137RadioSQU
  std::uint32_t ptt_id = 0;
  std::uint32_t ptt_mute = 0;
  std::uint32_t ptt_summation = 0;
  std::uint32_t sct = 0;
  std::uint32_t bss_method = 0;    // TERM::ED137RadioBSSMethod
  std::uint32_t bss_quality = 0;   // 0 to 31
  std::uint32_t session_addr = 0;  // IPv4, network order
  std::uint32_t session_ssrc = 0;

  bool IsEqual(const ED137RadioState& o) const;
};

class ED137RadioControl : public RadioControl {
 public:
  // What the slot is told while nothing is received.
  static constexpr int no_reception = 151;

  ED137RadioControl(int channel, const rtp_ext_attach_session_params& attach, const rtp_ext_init_params& init);
  explicit ED137RadioControl(const rtp_ext_init_params& init);
  ED137RadioControl(int channel, Fd rtp, const rtp_attach_session_params& attach);

  void SetParams(const ED137RadioParams& params) { params_ = params; }

  // The controller's messages; false for one that is not ED-137.
  bool SendASNToChan(const TERM::RadioStatus& status) override;
  bool SendASNToChan(const TERM::RadioModifier& request) override;
  // The squelch the controller set.
  bool GetSQU() override;

  // Writes the record as one payload; the write's result, or 0 when the
  // record does not pack.
  int SendProtoToChan(r2s_proto& record);

  const ED137RadioParams& params() const { return params_; }
  const ED137RadioState& radio_state() const { return radio_state_; }
  const ED137RadioState& chan_state() const { return chan_state_; }
  std::uint32_t last_keepalive_ms() const { return last_keepalive_ms_; }
  std::uint32_t last_receive_ms() const { return last_receive_ms_; }

 protected:
  void OnRtpExtEvent(int fd, short events) override;

  // What a side keeps of a state and lets through; the record of a state.
  // The common control keeps nothing, lets everything through and leaves
  // the record as it is (empty: it does not pack).
  virtual int PutProtoFromRadioToChan(const ED137RadioState& state);
  virtual int PutProtoFromChanToRadio(const ED137RadioState& state);
  virtual bool AccessFormChanToRadio(const ED137RadioState& state);
  // 0 and the record, or -1 for a state of no direction.
  virtual int EncodeProto(const ED137RadioState& state, r2s_proto& record);

  // A received record as a state: its session, and its header by direction.
  static void DecodeProto(const r2s_proto& record, ED137RadioState& state);
  // The controller's messages over a copy of the radio state.
  static void DecodeASN(const TERM::ED137RadioStatus& status, ED137RadioState& state);
  static void DecodeASN(const TERM::ED137RadioModifier& request, ED137RadioState& state);
  // The status part of a report: the radio state, its SQI always.
  static void EncodeStatusASN(const ED137RadioState& state, TERM::RtpRadioRequest& request);
  // A report: the radio state's status and the received state as request.
  void EncodeASN(const ED137RadioState& received, TERM::RtpRadioRequest& request) const;

  bool NeedSendProto(const ED137RadioState& state) const;
  void SendRadioStateToChan(const ED137RadioState& state);
  void OnRtpProtoRXEvent(const r2s_proto& record);

  ED137RadioParams params_;
  r2s_proto rx_record_{};
  r2s_proto last_rx_record_{};
  r2s_proto spare_record_{};
  std::uint32_t last_keepalive_ms_ = 0;
  std::uint32_t last_report_ms_ = 0;
  std::uint32_t last_receive_ms_ = 0;
  ED137RadioState chan_state_;   // what the channel told, last reported
  ED137RadioState radio_state_;  // what the controller set, last sent

 private:
  void Init();
};

// The radio gateway's side: it keeps the states, takes a PTT only when the
// radio transmits, encodes both directions and runs the keep-alive.
class ED137RadioGWControl : public ED137RadioControl {
 public:
  using ED137RadioControl::ED137RadioControl;

 protected:
  unsigned long ProcessRadioStatus(unsigned long now, unsigned long interval) override;
  int PutProtoFromRadioToChan(const ED137RadioState& state) override;
  int PutProtoFromChanToRadio(const ED137RadioState& state) override;
  bool AccessFormChanToRadio(const ED137RadioState& state) override;
  int EncodeProto(const ED137RadioState& state, r2s_proto& record) override;
};

}  // namespace RTPSignalling
