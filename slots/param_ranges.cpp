#include "slots/param_ranges.h"

#include <cstdint>

#include "hardware/e1_ctl.h"
#include "platform/hal_records.h"
#include "slots/echo_factory.h"

namespace {

constexpr long long u16 = 0xFFFF;

// Collects the first field out of its range.
class Check {
 public:
  Check& in(const char* field, long long value, long long low, long long high) {
    if (fault_.empty() && (value < low || value > high)) fault_ = std::string(field) + "=" + std::to_string(value);
    return *this;
  }
  Check& atLeast(const char* field, long long value, long long low) { return in(field, value, low, INT64_MAX); }
  const std::string& fault() const { return fault_; }

 private:
  std::string fault_;
};

long long v(const ASN1::INTEGER& i) { return i.getValue(); }

void trunk(Check& c, const char* field, const ASN1::INTEGER& i) {
  c.in(field, v(i), ParamRanges::first_trunk, ParamRanges::last_trunk);
}

void channel(Check& c, const char* field, const LGCP::MixerChannel& ch) {
  if (ch.getSelection() == LGCP::MixerChannel::e_tdm)
    c.atLeast(field, v(ch.get_tdm()), 0);
  else if (ch.getSelection() == LGCP::MixerChannel::e_rtp)
    c.atLeast(field, v(ch.get_rtp()), 0);
}

void rtp(Check& c, const TERM::RtpParams& p) {
  using R = TERM::RtpParams;
  // The packet factor is taken modulo 2^16, as controllers have always
  // sent it.
  if (p.hasOptionalField(R::o_jitter)) {
    c.atLeast("jitter.start", v(p.get_jitter().get_start()), 0);
    c.atLeast("jitter.max", v(p.get_jitter().get_max()), 0);
  }
  if (p.hasOptionalField(R::o_radio)) {
    using Q = TERM::RtpRadioRequest;
    const Q& r = p.get_radio();
    // Delays are unsigned milliseconds in the DSP's record.
    if (r.hasOptionalField(Q::o_rx_delay)) c.atLeast("radio.rx-delay", v(r.get_rx_delay()), 0);
    if (r.hasOptionalField(Q::o_tx_delay)) c.atLeast("radio.tx-delay", v(r.get_tx_delay()), 0);
    if (r.hasOptionalField(Q::o_selcal_delay)) c.atLeast("radio.selcal-delay", v(r.get_selcal_delay()), 0);
  }
  if (p.hasOptionalField(R::o_rtp_e2m)) {
    c.in("rtp-e2m.slot", v(p.get_rtp_e2m().get_slot()), 0, 1023);
    c.atLeast("rtp-e2m.channel", v(p.get_rtp_e2m().get_channel()), 0);
  }
}

}  // namespace

std::string ParamRanges::Create(const LGCP::CreateParams& params) {
  using C = LGCP::CreateParams;
  Check c;
  switch (params.getSelection()) {
    case C::e_mixerOut: {
      const LGCP::MixerOutParams& p = params.get_mixerOut();
      c.atLeast("unit", v(p.get_unit()), 0);
      channel(c, "channel", p.get_channel());
      for (unsigned i = 0; i < p.get_inputs().size(); ++i) channel(c, "inputs.channel", p.get_inputs()[i].get_channel());
      break;
    }
    case C::e_mixerIn: {
      const LGCP::MixerInParams& p = params.get_mixerIn();
      c.atLeast("unit", v(p.get_unit()), 0);
      channel(c, "channel", p.get_channel());
      if (p.hasOptionalField(LGCP::MixerInParams::o_summator)) channel(c, "summator", p.get_summator());
      if (p.hasOptionalField(LGCP::MixerInParams::o_rtp)) rtp(c, p.get_rtp());
      break;
    }
    case C::e_rtpOnMixer: {
      const LGCP::RtpOnMixerParams& p = params.get_rtpOnMixer();
      c.atLeast("unit", v(p.get_unit()), 0).atLeast("tdm", v(p.get_tdm()), 0).atLeast("rtp", v(p.get_rtp()), 0);
      rtp(c, p.get_params());
      break;
    }
    case C::e_voice: {
      const LGCP::VoiceParams& p = params.get_voice();
      if (p.getSelection() != LGCP::VoiceParams::e_player) break;
      const LGCP::PlayerParams& player = p.get_player();
      if (player.getSelection() == LGCP::PlayerParams::e_network)
        c.atLeast("id", v(player.get_network().get_id()), 0);
      else if (player.getSelection() == LGCP::PlayerParams::e_file)
        c.atLeast("repeat", v(player.get_file().get_repeat()), 0);
      break;
    }
    case C::e_rtp:
      rtp(c, params.get_rtp().get_codecRTP());
      break;
    case C::e_modem: {
      const TERM::ModemParams& p = params.get_modem();
      if (!p.hasOptionalField(TERM::ModemParams::o_dmp)) break;
      // An offset indexes the modem's parameter table.
      for (unsigned i = 0; i < p.get_dmp().size(); ++i) c.atLeast("dmp.offset", v(p.get_dmp()[i].get_offset()), 0);
      break;
    }
    case C::e_pstn: {
      const LGCP::PstnParams& p = params.get_pstn();
      if (p.getSelection() == LGCP::PstnParams::e_ss7) {
        const LGCP::SS7Params& s = p.get_ss7();
        trunk(c, "trunk", s.get_trunk());
        // A signalling link code is 4 bits, a point code at most 24.
        c.in("slc", v(s.get_slc()), 0, 15).in("dpc", v(s.get_dpc()), 0, 0xFFFFFF).in("opc", v(s.get_opc()), 0, 0xFFFFFF);
      } else if (p.getSelection() == LGCP::PstnParams::e_isdn) {
        trunk(c, "trunk", p.get_isdn().get_trunk());
      } else if (p.getSelection() == LGCP::PstnParams::e_cas) {
        trunk(c, "trunk", p.get_cas().get_trunk());
      }
      break;
    }
    case C::e_ext:
      c.in("transmitter", v(params.get_ext().get_transmitter()), 0, hal::bus_channels - 1)
          .in("receiver", v(params.get_ext().get_receiver()), 0, hal::bus_channels - 1);
      break;
    case C::e_echo:
      c.in("bus", v(params.get_echo().get_bus()), 0, EchoFactory::buses - 1)
          .in("channel", v(params.get_echo().get_channel()), 0, EchoFactory::bus_channels - 1);
      break;
    case C::e_t38soft: {
      // The channel's sizes and thresholds are 16 bits on the driver.
      const LGCP::T38Soft& p = params.get_t38soft();
      c.in("rx-packet-size", v(p.get_rx_packet_size()), 0, u16)
          .in("rx-threshold", v(p.get_rx_threshold()), 0, u16)
          .in("tx-threshold", v(p.get_tx_threshold()), 0, u16);
      break;
    }
    case C::e_isdn:
      // The link's number, given as the trunk.
      c.atLeast("trunk", v(params.get_isdn().get_trunk()), 0);
      break;
    case C::e_hdlcParams:
      trunk(c, "trunk", params.get_hdlcParams().get_trunk());
      c.in("address", v(params.get_hdlcParams().get_address()), 0, u16);
      break;
    default:
      break;
  }
  return c.fault();
}

std::string ParamRanges::Ioctl(const LGCP::IoctlParams& params) {
  using I = LGCP::IoctlParams;
  Check c;
  switch (params.getSelection()) {
    case I::e_translateDTMF: {
      // Frequencies, amplitudes and durations are 16 bits in the tone
      // generator's record and timer.
      using T = LGCP::TranslateDtmfParams;
      const T& p = params.get_translateDTMF();
      for (unsigned i = 0; i < p.get_digits().size(); ++i)
        c.in("freq1", v(p.get_digits()[i].get_freq1()), 0, u16).in("freq2", v(p.get_digits()[i].get_freq2()), 0, u16);
      if (p.hasOptionalField(T::o_amp1)) c.in("amp1", v(p.get_amp1()), 0, u16);
      if (p.hasOptionalField(T::o_amp2)) c.in("amp2", v(p.get_amp2()), 0, u16);
      if (p.hasOptionalField(T::o_toneDuration)) c.in("toneDuration", v(p.get_toneDuration()), 0, u16);
      if (p.hasOptionalField(T::o_pauseDuration)) c.in("pauseDuration", v(p.get_pauseDuration()), 0, u16);
      break;
    }
    case I::e_cas:
      c.in("path", v(params.get_cas().get_channel().get_path()), 0, E1Ctl::trunks - 1)
          .in("timeslot", v(params.get_cas().get_channel().get_timeslot()), 0, 31);
      break;
    case I::e_vad_params:
      if (params.get_vad_params().getSelection() == LGCP::VADParams::e_v2) {
        const TERM::VADParamsV2& p = params.get_vad_params().get_v2();
        c.in("voice-th-msec", v(p.get_voice_th_msec()), 0, u16)
            .in("silence-th-msec", v(p.get_silence_th_msec()), 0, u16)
            .in("e-th-dB", v(p.get_e_th_dB()), 0, 0xFF);
      }
      break;
    case I::e_pd_enable:
      c.atLeast("timeout", v(params.get_pd_enable().get_timeout()), 0);
      break;
    case I::e_delays: {
      using D = LGCP::Delays;
      const D& p = params.get_delays();
      if (p.hasOptionalField(D::o_rx)) c.atLeast("rx", v(p.get_rx()), 0);
      if (p.hasOptionalField(D::o_tx)) c.atLeast("tx", v(p.get_tx()), 0);
      if (p.hasOptionalField(D::o_selcal)) c.atLeast("selcal", v(p.get_selcal()), 0);
      break;
    }
    case I::e_tone_filter:
      c.atLeast("freq", v(params.get_tone_filter().get_freq()), 0)
          .atLeast("duration-th-msec", v(params.get_tone_filter().get_duration_th_msec()), 0);
      break;
    case I::e_tone_gen_enable:
      c.in("freq", v(params.get_tone_gen_enable().get_freq()), 0, u16)
          .in("amp", v(params.get_tone_gen_enable().get_amp()), 0, u16);
      break;
    case I::e_selcal:
      if (params.get_selcal().hasOptionalField(TERM::SelcalCommand::o_amp))
        c.in("amp", v(params.get_selcal().get_amp()), 0, u16);
      break;
    default:
      break;
  }
  return c.fault();
}
