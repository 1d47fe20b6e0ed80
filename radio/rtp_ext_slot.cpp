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

RtpExtSlot::~RtpExtSlot() { delete control; }

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
    answer = control->has_session() && control->SendASNToChan(p.get_rtpExt());
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

bool RtpExtSlot::IOnInputStream() {
  if (!input_held || !control) return RtpSlot::IOnInputStream();
  FollowSquelch();
  return true;
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

void RtpExtSlot::ConfigureRadioDsp(const TERM::RtpRadioRequest& radio) {
  using Radio = TERM::RtpRadioRequest;
  Hardware::DSProcReceiver& dsp = dsp_receiver();
  const bool rx = radio.hasOptionalField(Radio::o_rx_delay), tx = radio.hasOptionalField(Radio::o_tx_delay),
             selcal = radio.hasOptionalField(Radio::o_selcal_delay);
  if (rx || tx || selcal)
    dsp.configureDelays(rx ? radio.get_rx_delay().getValue() : 0, tx ? radio.get_tx_delay().getValue() : 0,
                        selcal ? radio.get_selcal_delay().getValue() : 0);
  if (radio.hasOptionalField(Radio::o_bss_enable)) dsp.enableBSS(radio.get_bss_enable().getValue());
  if (radio.hasOptionalField(Radio::o_ng_enable)) dsp.enableNG(radio.get_ng_enable().getValue());
  if (radio.hasOptionalField(Radio::o_selcal_sh_enable)) dsp.enableSelcalSh(radio.get_selcal_sh_enable().getValue());
}

void RtpExtSlot::RadioControlNotify(const TERM::RtpRadioRequest& request) { OnRtpRadioEvent(request); }

void RtpExtSlot::RadioControlNotify(int code) { OnAbort(code); }
