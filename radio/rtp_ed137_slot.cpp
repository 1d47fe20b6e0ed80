#include "radio/rtp_ed137_slot.h"

using RTPSignalling::ED137RadioGWControl;
using RTPSignalling::ED137RadioParams;

RtpED137RadioGWSlot::RtpED137RadioGWSlot(int channel, Fd session, const rtp_connection_params& params,
                                         const rtp_ext_attach_session_params& attach, const rtp_ext_init_params& init,
                                         const ED137RadioParams& radio)
    : RtpED137Slot(channel, std::move(session), params, attach, init) {
  input_held = radio.transmission_depends_on_squ;
  auto* c = new ED137RadioGWControl(channel, attach, init);
  c->SetParams(radio);
  SetUp(c);
  // Keep-alives at half the time after which the channel counts as silent.
  c->SetTimerInterval(static_cast<unsigned long>(radio.keepalive_period) *
                      static_cast<unsigned long>(radio.keepalive_multiplier) / 2);
  c->SetTimerEnable(true);
}

RtpED137RadioGWSlot::RtpED137RadioGWSlot(int channel, Fd session, const rtp_connection_params& params,
                                         const rtp_ext_init_params& init)
    : RtpED137Slot(channel, std::move(session), params, init) {
  SetUp(new ED137RadioGWControl(init));
}

RtpED137RadioGWSlot::RtpED137RadioGWSlot(int channel, Fd session, const rtp_connection_params& params,
                                         const rtp_attach_session_params& attach)
    : RtpED137Slot(channel, std::move(session), params, attach) {
  SetUp(new ED137RadioGWControl(channel, this->session, attach));
}

void RtpED137RadioGWSlot::SetUp(RTPSignalling::ED137RadioControl* radio) {
  control = radio;
  radio->SetNotify(this);
  radio->SetTrace(false);
  // The radio's side keeps the time of every rx state it sends.
  radio->SetWorkstation(false);
}
