#include "radio/rtp_vesk_factory.h"

#include <unistd.h>

#include <iostream>
#include <sstream>

#include "radio/rtp_vesk_slot.h"

RtpVESKFactory& RtpVESKFactory::instance() {
  static RtpVESKFactory factory;
  return factory;
}

Slot* RtpVESKFactory::INewSlot(const LGCP::CreateParams& params) {
  using R = TERM::RtpParams;
  using Radio = TERM::RtpRadioRequest;
  if (params.getSelection() != LGCP::CreateParams::e_rtp) return nullptr;
  const LGCP::CreateRtpParams& create = params.get_rtp();
  const R& p = create.get_codecRTP();
  if (!p.hasOptionalField(R::o_radio) || p.get_radio().get_status().getSelection() != TERM::RadioStatus::e_vesk)
    return nullptr;
  {
    std::ostringstream line;
    line << prefix() << "do create rtp ext VESK: " << p << "\n";
    std::clog << line.str() << std::flush;
  }
  const Radio& radio = p.get_radio();
  const bool bss = radio.hasOptionalField(Radio::o_bss_enable) && radio.get_bss_enable().getValue();

  // Which session the extension joins: the new one, or an existing one.
  const TERM::RtpExtMode* mode = nullptr;
  if (p.hasOptionalField(R::o_rtp_e2m) && p.get_rtp_e2m().hasOptionalField(TERM::RtpE2M::o_mode)) {
    mode = &p.get_rtp_e2m().get_mode();
    const int m = mode->getSelection();
    if (m != TERM::RtpExtMode::e_both_rtp_and_rtp_ext && m != TERM::RtpExtMode::e_only_rtp) return nullptr;
  }

  Opening o;
  if (!OpenSession(create, false, bss ? 1 : 0, o)) return nullptr;
  RtpVESKRadioGWSlot* slot;
  if (mode && mode->getSelection() == TERM::RtpExtMode::e_only_rtp) {
    const TERM::RtpExtDescription& d = mode->get_only_rtp();
    const rtp_attach_session_params attach{d.get_fd().getValue(), d.get_pid().getValue()};
    slot = new RtpVESKRadioGWSlot(o.channel, o.session, o.params, attach);
  } else {
    const rtp_ext_attach_session_params attach{o.session.get(), static_cast<std::int32_t>(::getpid())};
    rtp_ext_init_params init{};
    init.etype = rtp_ext::vesk_identifier;
    slot = new RtpVESKRadioGWSlot(o.channel, o.session, o.params, attach, init, true);
  }
  // A radio whose extension session cannot be had would answer every
  // radio request with silence: the create fails and leaves nothing open.
  if (!slot->radio_ready()) {
    std::cerr << prefix() + "rtp ext VESK do not created: no extension session\n" << std::flush;
    slot->IBeforeDestroy();
    delete slot;
    return nullptr;
  }
  slot->SetRadioStatus(radio.get_status());
  StartSlot(*slot, o, p);
  slot->ConfigureRadioDsp(radio);
  return slot;
}
