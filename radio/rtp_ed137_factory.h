#pragma once
// The maker of the ED-137 radio RTP slots (factory "RTP Ext ED137"): it
// takes the create alternative `rtp` whose parameters carry a radio field
// with an ED-137 status, builds the session as the RTP factory does (the
// RTCP socket without address reuse, the BSS switch in the channel record)
// and a radio gateway slot on it, whose extension session joins the new RTP
// session with the parameters the controller negotiated (the radio
// response of the status, else the defaults). It reports the voice
// driver's DSP channel counts as the RTP factory does.
#include "radio/ed137_radio_control.h"
#include "slots/rtp_factory.h"

class RtpED137Factory : public RtpFactoryBase {
 public:
  static RtpED137Factory& instance();

  const char* GetName() const override { return "RTP Ext ED137"; }
  Slot* INewSlot(const LGCP::CreateParams& params) override;

  // The extension session's init record: the ED-137 identifier, then the
  // driver's words, the last two its repetition of the state (from the
  // keep-alive period in packets of the session, and the signalling time).
  static rtp_ext_init_params InitRecord(const RTPSignalling::ED137RadioParams& radio,
                                        const rtp_connection_params& session);

 private:
  RtpED137Factory() : RtpFactoryBase("rtp ext ED137") {}
};
