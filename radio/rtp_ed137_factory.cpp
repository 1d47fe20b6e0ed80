#include "radio/rtp_ed137_factory.h"

#include <iostream>
#include <sstream>

#include "radio/rtp_ed137_slot.h"

RtpED137Factory& RtpED137Factory::instance() {
  static RtpED137Factory factory;
  return factory;
}

rtp_ext_init_params RtpED137Factory::InitRecord(const RTPSignalling::ED137RadioParams& radio,
                                                const rtp_connection_params& session) {
  rtp_ext_init_params init{};
  init.etype = rtp_ext::ed137_identifier;
  init.fill[0] = 1;
  init.fill[1] = 123;
  // A packet carries packet_factor x 10 ms of voice (20 ms when not set).
  const std::uint32_t packetMs = (session.packet_factor != 0 ? session.packet_factor : 2u) * 10u;
  const std::uint32_t sigtime = radio.sigtime > 0 ? static_cast<std::uint32_t>(radio.sigtime) : 0u;
  init.fill[2] = static_cast<std::uint32_t>(radio.keepalive_period) / packetMs;
  if (sigtime != 0) init.fill[2] *= sigtime;
  init.fill[3] = sigtime != 0 ? sigtime : 1u;
  return init;
}

Slot* RtpED137Factory::INewSlot(const LGCP::CreateParams& params) {
  using R = TERM::RtpParams;
  using Radio = TERM::RtpRadioRequest;
  if (params.getSelection() != LGCP::CreateParams::e_rtp) return nullptr;
  const LGCP::CreateRtpParams& create = params.get_rtp();
  const R& p = create.get_codecRTP();
  if (!p.hasOptionalField(R::o_radio) || p.get_radio().get_status().getSelection() != TERM::RadioStatus::e_ed_137)
    return nullptr;
  {
    std::ostringstream line;
    line << prefix() << "do create rtp ext ED137: " << p << "\n";
    std::clog << line.str() << std::flush;
  }
  const Radio& radio = p.get_radio();
  const bool bss = radio.hasOptionalField(Radio::o_bss_enable) && radio.get_bss_enable().getValue();
  Opening o;
  if (!OpenSession(create, false, bss ? 1 : 0, o)) return nullptr;

  RTPSignalling::ED137RadioParams negotiated;
  const TERM::ED137RadioStatus& status = radio.get_status().get_ed_137();
  if (status.hasOptionalField(TERM::ED137RadioStatus::o_radio_response)) negotiated.Init(status.get_radio_response());
  // The extension joins the session the factory has just begun, as the
  // caller's own; after a codec change the slot names its new one.
  const rtp_ext_attach_session_params attach{o.session.get(), rtp_ext::caller_pid};
  auto* slot =
      new RtpED137RadioGWSlot(o.channel, o.session, o.params, attach, InitRecord(negotiated, o.params), negotiated);
  // A radio whose extension session cannot be had would answer every
  // radio request with silence: the create fails and leaves nothing open.
  if (!slot->radio_ready()) {
    std::cerr << prefix() + "rtp ext ED137 do not created: no extension session\n" << std::flush;
    slot->IBeforeDestroy();
    delete slot;
    return nullptr;
  }
  slot->SetRadioStatus(radio.get_status());
  StartSlot(*slot, o, p);
  slot->ConfigureRadioDsp(radio);
  return slot;
}
