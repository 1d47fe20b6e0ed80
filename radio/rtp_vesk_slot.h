#pragma once
// The VESK radio RTP slots: an RTP extension slot whose radio control runs
// the VESK signalling (vesk_radio_control.h). They add only the choice and
// set-up of the control, which they create.
//
//   RtpVESKRadioGWSlot  the gateway side, which the VESK factory builds:
//                       its own extension session joined to the slot's RTP
//                       session (with the periodic status when asked), or
//                       attached to an existing RTP session (without);
//   RtpVESKRadioWSSlot  the workstation side, the same shape; no factory
//                       builds it.
#include "radio/rtp_ext_slot.h"
#include "radio/vesk_radio_control.h"

class RtpVESKSlot : public RtpExtSlot {
 public:
  using RtpExtSlot::RtpExtSlot;
  const char* GetName() const override { return "rtp ext VESK"; }
};

class RtpVESKRadioGWSlot : public RtpVESKSlot {
 public:
  // Its own extension session, joined to {fd, pid}; timer: the periodic status.
  RtpVESKRadioGWSlot(int channel, Fd session, const rtp_connection_params& params,
                     const rtp_ext_attach_session_params& attach, const rtp_ext_init_params& init, bool timer);
  // Attached to the existing RTP session {fd, pid}.
  RtpVESKRadioGWSlot(int channel, Fd session, const rtp_connection_params& params,
                     const rtp_attach_session_params& attach);
  // Its own extension session, joined to none.
  RtpVESKRadioGWSlot(int channel, Fd session, const rtp_connection_params& params, const rtp_ext_init_params& init);
  const char* GetName() const override { return "rtp ext VESK (GW)"; }

 private:
  void SetUp(bool timer);
};

class RtpVESKRadioWSSlot : public RtpVESKSlot {
 public:
  RtpVESKRadioWSSlot(int channel, Fd session, const rtp_connection_params& params,
                     const rtp_ext_attach_session_params& attach, const rtp_ext_init_params& init);
  RtpVESKRadioWSSlot(int channel, Fd session, const rtp_connection_params& params,
                     const rtp_attach_session_params& attach);
  RtpVESKRadioWSSlot(int channel, Fd session, const rtp_connection_params& params, const rtp_ext_init_params& init);
  const char* GetName() const override { return "rtp ext VESK (WS)"; }

 private:
  void SetUp();
};
