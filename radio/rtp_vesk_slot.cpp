#include "radio/rtp_vesk_slot.h"

using RTPSignalling::VeskRadioGWControl;
using RTPSignalling::VeskRadioWSControl;

RtpVESKRadioGWSlot::RtpVESKRadioGWSlot(int channel, Fd session, const rtp_connection_params& params,
                                       const rtp_ext_attach_session_params& attach, const rtp_ext_init_params& init,
                                       bool timer)
    : RtpVESKSlot(channel, std::move(session), params, attach, init) {
  control = new VeskRadioGWControl(channel, attach, init);
  SetUp(timer);
}

RtpVESKRadioGWSlot::RtpVESKRadioGWSlot(int channel, Fd session, const rtp_connection_params& params,
                                       const rtp_attach_session_params& attach)
    : RtpVESKSlot(channel, std::move(session), params, attach) {
  control = new VeskRadioGWControl(channel, this->session, attach);
  SetUp(false);
}

RtpVESKRadioGWSlot::RtpVESKRadioGWSlot(int channel, Fd session, const rtp_connection_params& params,
                                       const rtp_ext_init_params& init)
    : RtpVESKSlot(channel, std::move(session), params, init) {
  control = new VeskRadioGWControl(init);
  SetUp(false);
}

void RtpVESKRadioGWSlot::SetUp(bool timer) {
  control->SetNotify(this);
  control->SetTrace(false);
  control->SetTimerEnable(timer);
  // A gateway keeps the times of its status packets.
  control->SetWorkstation(false);
}

RtpVESKRadioWSSlot::RtpVESKRadioWSSlot(int channel, Fd session, const rtp_connection_params& params,
                                       const rtp_ext_attach_session_params& attach, const rtp_ext_init_params& init)
    : RtpVESKSlot(channel, std::move(session), params, attach, init) {
  control = new VeskRadioWSControl(channel, attach, init);
  SetUp();
}

RtpVESKRadioWSSlot::RtpVESKRadioWSSlot(int channel, Fd session, const rtp_connection_params& params,
                                       const rtp_attach_session_params& attach)
    : RtpVESKSlot(channel, std::move(session), params, attach) {
  control = new VeskRadioWSControl(channel, this->session, attach);
  SetUp();
}

RtpVESKRadioWSSlot::RtpVESKRadioWSSlot(int channel, Fd session, const rtp_connection_params& params,
                                       const rtp_ext_init_params& init)
    : RtpVESKSlot(channel, std::move(session), params, init) {
  control = new VeskRadioWSControl(init);
  SetUp();
}

void RtpVESKRadioWSSlot::SetUp() {
  control->SetNotify(this);
  control->SetTrace(false);
  control->SetWorkstation(true);
}
