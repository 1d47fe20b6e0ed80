#include "radio/rtp_ext_slot.h"

#include <errno.h>
#include <string.h>

#include <iostream>
#include <string>

#include "platform/drv.h"

RtpExtSlot::RtpExtSlot(int channel, Fd session, const rtp_connection_params& params,
                       const rtp_ext_attach_session_params&, const rtp_ext_init_params&)
    : RtpSlot(channel, std::move(session), params) {}

RtpExtSlot::RtpExtSlot(int channel, Fd session, const rtp_connection_params& params, const rtp_ext_init_params&)
    : RtpSlot(channel, std::move(session), params) {}

RtpExtSlot::RtpExtSlot(int channel, Fd session, const rtp_connection_params& params, const rtp_attach_session_params&)
    : RtpSlot(channel, std::move(session), params) {}

RtpExtSlot::~RtpExtSlot() = default;

void RtpExtSlot::IAfterCreate() {
  RtpSlot::IAfterCreate();
  // A status of another protocol is refused by the control: nothing to do.
  if (control) control->SendASNToChan(radio_status);
}

bool RtpExtSlot::IBeforeDestroy() {
  if (control) control->RtpExtStop();
  RtpSlot::IBeforeDestroy();
  return true;
}

bool RtpExtSlot::Ioctl(const LGCP::IoctlParams& p) {
  if (!control) return RtpSlot::Ioctl(p);
  using P = LGCP::IoctlParams;
  bool answer;
  if (p.getSelection() == P::e_rtpExt) {
    answer = control->SendASNToChan(p.get_rtpExt());
  } else if (p.getSelection() == P::e_encoder_mode || p.getSelection() == P::e_decoder_mode) {
    // The codec change begins the RTP session again on a new descriptor:
    // the extension lets go of the old one first and joins the new one,
    // never the number the session had when the slot was made.
    control->RtpExtStop();
    control->SetRtpSession(Fd());
    answer = RtpSlot::Ioctl(p);
    control->SetRtpSession(session);
    if (answer) answer = control->RtpExtStart(false);
  } else {
    answer = RtpSlot::Ioctl(p);
  }
  FollowSquelch();
  return answer;
}

void RtpExtSlot::FollowSquelch() {
  if (!input_held) return;
  const bool squelch = control->GetSQU();
  if (squelch == input_running) return;
  const unsigned long code = squelch ? rtpdrv::input_start : rtpdrv::input_stop;
  if (drv::ioctl_val(session.get(), code, 0) < 0) {
    const std::string line = std::string("rtp[") + std::to_string(channel) + "]: input " +
                             (squelch ? "start" : "stop") + " fail: " + ::strerror(errno) + "\n";
    std::cerr << line << std::flush;
    return;
  }
  input_running = squelch;
}

void RtpExtSlot::RadioControlNotify(const TERM::RtpRadioRequest& request) { OnRtpRadioEvent(request); }

void RtpExtSlot::RadioControlNotify(int code) { OnAbort(code); }
