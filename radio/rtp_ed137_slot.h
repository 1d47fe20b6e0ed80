#pragma once
// The ED-137 radio RTP slots: an RTP extension slot whose radio control
// runs the ED-137 signalling (ed137_radio_control.h) as the radio's side.
// They add only the set-up of the control, which they create.
//
//   RtpED137RadioGWSlot  the radio gateway, which the ED-137 factory builds
//                        with its own extension session joined to the
//                        slot's RTP session: the session's parameters, the
//                        keep-alive every half no-reception limit, and, when
//                        the transmission depends on the squelch, the
//                        session's input held until the radio's squelch
//                        opens. The other two forms (an existing RTP session
//                        attached, or an extension session joined to none)
//                        run with the default parameters and no keep-alive.
#include "radio/ed137_radio_control.h"
#include "radio/rtp_ext_slot.h"

class RtpED137Slot : public RtpExtSlot {
 public:
  using RtpExtSlot::RtpExtSlot;
  const char* GetName() const override { return "rtp ext ed137"; }
};

class RtpED137RadioGWSlot : public RtpED137Slot {
 public:
  RtpED137RadioGWSlot(int channel, Fd session, const rtp_connection_params& params,
                      const rtp_ext_attach_session_params& attach, const rtp_ext_init_params& init,
                      const RTPSignalling::ED137RadioParams& radio);
  RtpED137RadioGWSlot(int channel, Fd session, const rtp_connection_params& params, const rtp_ext_init_params& init);
  RtpED137RadioGWSlot(int channel, Fd session, const rtp_connection_params& params,
                      const rtp_attach_session_params& attach);
  const char* GetName() const override { return "rtp ext ED137 (GW)"; }

 private:
  void SetUp(RTPSignalling::ED137RadioControl* radio);
};
