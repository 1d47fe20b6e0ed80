// Driver events of a slot's timeslot as controller signals.
#include <cstdio>
#include <iostream>

#include "slots/slot.h"

namespace {

// The tone processor's codes beyond the digits: CED and CNG fax tones, and
// the voice detector's codes in the second octet (21: ring-off).
constexpr std::uint32_t code_ced = 17;
constexpr std::uint32_t code_cng = 18;
constexpr std::uint32_t code_dtmf_last = 127;
constexpr int iva_last = 20;
constexpr int iva_ringoff = 21;

// Bits of a DSP flags event: receive and transmit voice activity, a
// selective call in progress.
constexpr std::uint32_t flag_vad_rx = 1u << 29;
constexpr std::uint32_t flag_vad_tx = 1u << 30;
constexpr std::uint32_t flag_selcal = 1u << 31;

constexpr std::uint32_t rtp_event_pd = 1;

}  // namespace

void Slot::processTonecEvent(const Hardware::TonecReceiver::Params& params) {
  LGCP::TonecEvent event;
  event.set_timestamp(params.timestamp);
  LGCP::TonecCode& code = event.get_event();
  if (params.code == code_ced) {
    code.select_ced();
  } else if (params.code == code_cng) {
    code.select_cng();
  } else if (params.code <= code_dtmf_last) {
    code.set_dtmf(params.code);
  } else {
    const int iva = static_cast<std::int32_t>(params.code) >> 8;
    if (iva >= 1 && iva <= iva_last) {
      code.select_iva().set_code(iva);
    } else if (iva == iva_ringoff) {
      code.select_iva().select_ringoff();
    } else {
      std::cerr << "bad DTMF code, ignored." << std::endl;
      return;
    }
  }
  OnTonecEvent(event);
}

void Slot::processToneGenEvent() {
  LGCP::TonecEvent event;
  event.set_timestamp(0);
  event.get_event().select_dtmfDone();
  OnTonecEvent(event);
}

void Slot::processVADEvent(const Hardware::DSProcVADEvent& e) {
  LGCP::VADEvent event;
  if (e.rx >= 0) {
    event.includeOptionalField(LGCP::VADEvent::o_vad_rx, LGCP::VADEvent::e_vad_rx);
    event.set_vad_rx(e.rx != 0);
  }
  if (e.tx >= 0) {
    event.includeOptionalField(LGCP::VADEvent::o_vad_tx, LGCP::VADEvent::e_vad_tx);
    event.set_vad_tx(e.tx != 0);
  }
  if (e.rx < 0 && e.tx < 0) {
    std::cerr << "bad VAD event, ignored." << std::endl;
    return;
  }
  OnVADEvent(event);
}

void Slot::processToneFltEvent(const dsproc_tone_event* e) {
  LGCP::TonecEvent event;
  event.set_timestamp(0);
  LGCP::TonePresence& tone = event.get_event().select_tone_presence();
  tone.set_freq(e->frequency);
  tone.set_presence(static_cast<std::int32_t>(e->presence) > 0);
  OnTonecEvent(event);
}

void Slot::processFlagsEvent(const dsproc_flags_event* e) {
  if (e->mask & (flag_vad_rx | flag_vad_tx)) {
    LGCP::VADEvent event;
    if (e->mask & flag_vad_rx) {
      event.includeOptionalField(LGCP::VADEvent::o_vad_rx, LGCP::VADEvent::e_vad_rx);
      event.set_vad_rx((e->flags & flag_vad_rx) != 0);
    }
    if (e->mask & flag_vad_tx) {
      event.includeOptionalField(LGCP::VADEvent::o_vad_tx, LGCP::VADEvent::e_vad_tx);
      event.set_vad_tx((e->flags & flag_vad_tx) != 0);
    }
    OnVADEvent(event);
  }
  if (e->mask & flag_selcal) {
    LGCP::Signal signal;
    signal.select_selcal().set_in_progress((e->flags & flag_selcal) != 0);
    SendSignal(signal);
  }
}

void Slot::processBSSEvent(const dsproc_bss_event* e) {
  // An absurd score is cut short, never written past the buffer.
  char text[32];
  std::snprintf(text, sizeof text, "%4.6f", static_cast<double>(e->score));
  LGCP::Signal signal;
  signal.select_bss().set_score(text);
  SendSignal(signal);
}

void Slot::processSDEvent(const Hardware::DSProcSDEvent& e) {
  if (e.value < 0) {
    std::cerr << "bad SD event, ignored." << std::endl;
    return;
  }
  LGCP::SDEvent event;
  event.includeOptionalField(LGCP::SDEvent::o_sd_rx, LGCP::SDEvent::e_sd_rx);
  event.set_sd_rx(e.value != 0);
  OnSDEvent(event);
}

void Slot::processRtpEvent(const rtp_event& e) {
  if (e.type != rtp_event_pd) return;
  LGCP::RtpEvent event;
  LGCP::RtpPDEvent& pd = event.select_pd();
  pd.set_value(e.value);
  pd.set_timeout(e.timeout);
  OnRtpEvent(event);
}
