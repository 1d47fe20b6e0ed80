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

// A mixer channel indexes the unit's channels; only the TDM form is read.
void channel(Check& c, const char* field, const LGCP::MixerChannel& ch) {
  if (ch.getSelection() == LGCP::MixerChannel::e_tdm) c.atLeast(field, v(ch.get_tdm()), 0);
}

}  // namespace

std::string ParamRanges::Create(const LGCP::CreateParams& params) {
  using C = LGCP::CreateParams;
  Check c;
  switch (params.getSelection()) {
    case C::e_mixerOut: {
      const LGCP::MixerOutParams& p = params.get_mixerOut();
      channel(c, "channel", p.get_channel());
      for (unsigned i = 0; i < p.get_inputs().size(); ++i) channel(c, "inputs.channel", p.get_inputs()[i].get_channel());
      break;
    }
    case C::e_mixerIn: {
      const LGCP::MixerInParams& p = params.get_mixerIn();
      channel(c, "channel", p.get_channel());
      if (p.hasOptionalField(LGCP::MixerInParams::o_summator)) channel(c, "summator", p.get_summator());
      break;
    }
    case C::e_pstn:
      if (params.get_pstn().getSelection() == LGCP::PstnParams::e_ss7) {
        const LGCP::SS7Params& s = params.get_pstn().get_ss7();
        // A signalling link code is 4 bits of the label, a point code 24.
        c.in("slc", v(s.get_slc()), 0, 15).in("dpc", v(s.get_dpc()), 0, 0xFFFFFF).in("opc", v(s.get_opc()), 0, 0xFFFFFF);
      }
      break;
    case C::e_ext:
      // Board channels of the bus, which index the connection table.
      c.in("transmitter", v(params.get_ext().get_transmitter()), 0, hal::bus_channels - 1)
          .in("receiver", v(params.get_ext().get_receiver()), 0, hal::bus_channels - 1);
      break;
    case C::e_echo:
      // The bus indexes the buses present; bus and channel make the TDM channel.
      c.in("bus", v(params.get_echo().get_bus()), 0, EchoFactory::buses - 1)
          .in("channel", v(params.get_echo().get_channel()), 0, EchoFactory::bus_channels - 1);
      break;
    case C::e_hdlcParams:
      // Every frame carries the address in 16 bits.
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
      // Frequencies and amplitudes are 16 bits in the tone generator's
      // record; the durations are 32-bit timer values.
      using T = LGCP::TranslateDtmfParams;
      const T& p = params.get_translateDTMF();
      for (unsigned i = 0; i < p.get_digits().size(); ++i)
        c.in("freq1", v(p.get_digits()[i].get_freq1()), 0, u16).in("freq2", v(p.get_digits()[i].get_freq2()), 0, u16);
      if (p.hasOptionalField(T::o_amp1)) c.in("amp1", v(p.get_amp1()), 0, u16);
      if (p.hasOptionalField(T::o_amp2)) c.in("amp2", v(p.get_amp2()), 0, u16);
      break;
    }
    case I::e_cas:
      // The path indexes the trunks; the timeslot is one of the trunk's 32.
      c.in("path", v(params.get_cas().get_channel().get_path()), 0, E1Ctl::trunks - 1)
          .in("timeslot", v(params.get_cas().get_channel().get_timeslot()), 0, 31);
      break;
    case I::e_vad_params:
      if (params.get_vad_params().getSelection() == LGCP::VADParams::e_v2) {
        // Unsigned 16 and 8 bits in the DSP's record.
        const TERM::VADParamsV2& p = params.get_vad_params().get_v2();
        c.in("voice-th-msec", v(p.get_voice_th_msec()), 0, u16)
            .in("silence-th-msec", v(p.get_silence_th_msec()), 0, u16)
            .in("e-th-dB", v(p.get_e_th_dB()), 0, 0xFF);
      }
      break;
    case I::e_tone_filter:
      // The frequency and the duration threshold are unsigned 16 bits in
      // the DSP's record.
      c.in("freq", v(params.get_tone_filter().get_freq()), 0, u16)
          .in("duration-th-msec", v(params.get_tone_filter().get_duration_th_msec()), 0, u16);
      break;
    case I::e_tone_gen_enable:
      c.in("freq", v(params.get_tone_gen_enable().get_freq()), 0, u16)
          .in("amp", v(params.get_tone_gen_enable().get_amp()), 0, u16);
      break;
    case I::e_selcal:
      // Unsigned 16 bits in the tone generator's record.
      if (params.get_selcal().hasOptionalField(TERM::SelcalCommand::o_amp))
        c.in("amp", v(params.get_selcal().get_amp()), 0, u16);
      break;
    default:
      break;
  }
  return c.fault();
}
