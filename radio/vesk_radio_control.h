#pragma once
// The VESK radio signalling (sig_proto) of one radio RTP slot, over the
// extension session of its radio control. It stands between the radio
// channel on the session (the remote gateway or workstations: "Chan") and
// the controller, which owns the radio and decides ("Radio").
//
//   - Packets from the channel are read in batches: each wake-up drains the
//     driver, and each run of packets of one type from one session becomes
//     one report to the controller (a TERM::RtpRadioRequest with the status
//     the controller set and the last packet of the run), when the access
//     rule lets it through.
//   - The controller's radio status and requests are merged into the state
//     the controller set; a request is also sent to the channel as one
//     packet.
//   - The access filter of the session follows the push-to-talk the
//     controller set, and its session.
//
// Two sides, fixed by the class:
//   VeskRadioGWControl  the gateway: receives the workstations' commands
//                       (types 1 to 13), sends the status packets (129 to
//                       135) and repeats its status every second;
//   VeskRadioWSControl  the workstation, the mirror, with no periodic status.
#include <cstdint>

#include "radio/radio_control.h"
#include "radio/sig_proto.h"
#include "radio/vesk_radio_state.h"

namespace RTPSignalling {

class VeskRadioControl : public RadioControl {
 public:
  VeskRadioControl(int channel, const rtp_ext_attach_session_params& attach, const rtp_ext_init_params& init);
  explicit VeskRadioControl(const rtp_ext_init_params& init);
  VeskRadioControl(int channel, Fd rtp, const rtp_attach_session_params& attach);

  // The controller's messages; false for one that is not VESK.
  bool SendASNToChan(const TERM::RadioStatus& status) override;
  bool SendASNToChan(const TERM::RadioModifier& request) override;
  // The squelch the controller set.
  bool GetSQU() override;

  // Writes the record as one packet; the write's result, or 0 when the
  // record does not pack.
  int SendProtoToChan(sig_proto& record);

  const VeskRadioState& radio_state() const { return radio_state_; }
  const VeskRadioState& chan_state() const { return chan_state_; }
  std::uint32_t flag_sent_ms() const { return flag_sent_ms_; }
  std::uint32_t chan_sent_ms() const { return chan_sent_ms_; }
  std::uint32_t remote_sent_ms() const { return remote_sent_ms_; }
  std::uint32_t standby_sent_ms() const { return standby_sent_ms_; }
  // Packets read with a value outside the controller's enumerations.
  std::uint32_t bad_values() const { return bad_values_; }

 protected:
  void OnRtpExtEvent(int fd, short events) override;

  // The merges, the access rule and the packet of each side. Merges
  // return -1 for a full state (merged whole; nothing to send), else 0.
  virtual int PutProtoFromRadioToChan(const VeskRadioState& state);
  virtual int PutProtoFromChanToRadio(const VeskRadioState& state);
  virtual bool AccessFormChanToRadio(const VeskRadioState& state);
  // The header of the state's command; the sides add their payloads.
  // -1 for a command the side does not send.
  virtual int EncodeProto(const VeskRadioState& state, sig_proto& record);

  // A controller's message, merged into the state it set and sent.
  void SendRadioStateToChan(const VeskRadioState& state);
  // One report of a read batch.
  void OnRtpProtoRXEvent(const sig_proto& record);
  // Sends radio_state as a packet of the given type, at the time given.
  void SendStatus(int command, std::uint32_t& sent_ms, std::uint32_t now);

  sig_proto rx_record_{};
  sig_proto last_rx_record_{};
  sig_proto spare_record_{};
  std::uint32_t flag_sent_ms_ = 0;
  std::uint32_t chan_sent_ms_ = 0;
  std::uint32_t remote_sent_ms_ = 0;
  std::uint32_t standby_sent_ms_ = 0;
  VeskRadioState chan_state_;   // what the channel told
  VeskRadioState radio_state_;  // what the controller set
  std::uint32_t bad_values_ = 0;
  bool bad_run_ = false;  // the last packet read had a value outside

 private:
  void Init();
};

class VeskRadioGWControl : public VeskRadioControl {
 public:
  using VeskRadioControl::VeskRadioControl;

 protected:
  // WM_FLAG (WM_TRANS while transmitting) and WM_CHAN about once a second,
  // WM_SELECT_RC_CHAN on every step, WM_STANDBY once the standby is set.
  unsigned long ProcessRadioStatus(unsigned long now, unsigned long interval) override;
  int PutProtoFromRadioToChan(const VeskRadioState& state) override;
  int PutProtoFromChanToRadio(const VeskRadioState& state) override;
  // While the controller has a session transmitting, only that session,
  // or a push-to-talk of a numerically lower priority, reaches it.
  bool AccessFormChanToRadio(const VeskRadioState& state) override;
  int EncodeProto(const VeskRadioState& state, sig_proto& record) override;
};

class VeskRadioWSControl : public VeskRadioControl {
 public:
  using VeskRadioControl::VeskRadioControl;

 protected:
  int PutProtoFromRadioToChan(const VeskRadioState& state) override;
  int PutProtoFromChanToRadio(const VeskRadioState& state) override;
  int EncodeProto(const VeskRadioState& state, sig_proto& record) override;
};

}  // namespace RTPSignalling
