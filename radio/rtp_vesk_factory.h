#pragma once
// The maker of the VESK radio RTP slots (factory "RTP Ext VESK"): it takes
// the create alternative `rtp` whose parameters carry a radio field with a
// VESK status, builds the session as the RTP factory does (the RTCP socket
// without address reuse, the BSS switch in the channel record) and a
// gateway slot on it, whose extension session joins the new RTP session,
// or, when asked (rtp-e2m mode only-rtp), attaches to an existing one. It
// reports the voice driver's DSP channel counts as the RTP factory does.
#include "slots/rtp_factory.h"

class RtpVESKFactory : public RtpFactoryBase {
 public:
  static RtpVESKFactory& instance();

  const char* GetName() const override { return "RTP Ext VESK"; }
  Slot* INewSlot(const LGCP::CreateParams& params) override;

 private:
  RtpVESKFactory() : RtpFactoryBase("rtp ext VESK") {}
};
