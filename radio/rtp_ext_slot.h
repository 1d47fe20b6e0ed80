#pragma once
// An RTP slot that carries a radio channel: beside its RTP session it holds
// a radio control (radio_control.h), which runs the radio signalling on an
// RTP extension session. The slot hands the controller's radio requests
// (ioctl rtpExt) and its initial radio status to the control, reports the
// control's radio events ("rtpExt") and failures ("abort" with the code) to
// the controller, stops the extension session around a codec change and
// starts it again on the new RTP session, and, where the input follows the
// radio's squelch (input_held), starts and stops the session's input.
//
// The leaf slots (rtp_vesk_slot.h) create the control; this slot deletes it.
#include "radio/radio_control.h"
#include "slots/rtp_slot.h"

class RtpExtSlot : public RtpSlot, public RTPSignalling::IRadioControlNotify {
 public:
  // The three forms of the radio control; the extension records are the
  // leaf's to give to the control.
  RtpExtSlot(int channel, Fd session, const rtp_connection_params& params, const rtp_ext_attach_session_params& attach,
             const rtp_ext_init_params& init);
  RtpExtSlot(int channel, Fd session, const rtp_connection_params& params, const rtp_ext_init_params& init);
  RtpExtSlot(int channel, Fd session, const rtp_connection_params& params, const rtp_attach_session_params& attach);
  // Deletes the control before the RTP slot goes, so that it never
  // reports to a slot half gone.
  ~RtpExtSlot() override;

  const char* GetName() const override { return "rtp ext"; }
  // After the RTP slot's own: the initial radio status to the control.
  void IAfterCreate() override;
  // Stops the extension session, then the RTP slot's release; at once.
  bool IBeforeDestroy() override;
  // rtpExt to the control (false while it has no session, since nothing
  // would reach the radio); a codec change around the extension session;
  // the rest to the RTP slot.
  bool Ioctl(const LGCP::IoctlParams& params) override;
  // A held input starts at connect when the radio's squelch is open
  // already (from the create's status), as it would on a later request
  // that opens it.
  bool IOnInputStream() override;

  void RadioControlNotify(const TERM::RtpRadioRequest& request) override;
  void RadioControlNotify(int code) override;

  // The radio status of the create command, for IAfterCreate.
  void SetRadioStatus(const TERM::RadioStatus& status) { radio_status = status; }
  // The radio's DSP settings of the create command on the channel: the
  // delays when any is given (the others 0), and each switch given.
  void ConfigureRadioDsp(const TERM::RtpRadioRequest& radio);
  RTPSignalling::RadioControl* radio_control() const { return control; }
  // Whether the radio control holds its session: a radio slot without one
  // cannot work, and its factory gives it up.
  bool radio_ready() const { return control && control->has_session(); }

 protected:
  TERM::RadioStatus radio_status;
  RTPSignalling::RadioControl* control = nullptr;  // made by the leaf

 private:
  // The session's input follows the radio's squelch while input_held.
  void FollowSquelch();
};
