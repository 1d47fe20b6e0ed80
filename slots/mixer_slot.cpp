#include "slots/mixer_slot.h"

#include <iostream>
#include <sstream>

#include "hardware/hw_mux.h"
#include "slots/mixer.h"

namespace Mixer {

namespace {

using Ioctls = LGCP::IoctlParams;

// The requests inputs and outputs answer alike; false for any other.
bool commonIoctl(const Ioctls& p, const MixerSlot& slot, Hardware::TonecReceiver& tonec,
                 Hardware::DSProcReceiver& dsp) {
  switch (p.getSelection()) {
    case Ioctls::e_translateDTMF:
      tonec.translateDTMF(p.get_translateDTMF());
      return true;
    case Ioctls::e_dtmf_params:
      return tonec.configureDTMF(p.get_dtmf_params());
    case Ioctls::e_vad_params:
      return dsp.configureVAD(p.get_vad_params());
    case Ioctls::e_vad_enable:
      return dsp.enableVAD(p.get_vad_enable().getValue());
    case Ioctls::e_vad_disable:
      return dsp.disableVAD();
    case Ioctls::e_sd_params:
      return dsp.configureSD();
    case Ioctls::e_sd_enable:
      return dsp.enableSD(p.get_sd_enable().getValue());
    case Ioctls::e_sd_disable:
      return dsp.disableSD();
    case Ioctls::e_iva_enable:
      return tonec.enableIVA(p.get_iva_enable().getValue());
    case Ioctls::e_delays: {
      const LGCP::Delays& d = p.get_delays();
      const auto value = [&d](int field, const ASN1::INTEGER& v) {
        return d.hasOptionalField(field) ? static_cast<unsigned>(v.getValue()) : 0u;
      };
      // The mixer's channels have no selective-call path to delay.
      if (d.hasOptionalField(LGCP::Delays::o_selcal)) {
        std::ostringstream line;
        if (slot.mixer()) slot.mixer()->PutHeader(line);
        line << "error: selcal delay isn't supported for mixer!!! Set to zero.\n";
        std::cerr << line.str() << std::flush;
      }
      dsp.configureDelays(value(LGCP::Delays::o_rx, d.get_rx()), value(LGCP::Delays::o_tx, d.get_tx()), 0);
      return true;
    }
    case Ioctls::e_tone_filter: {
      const LGCP::ToneFilter& f = p.get_tone_filter();
      dsp.configureToneFilter(static_cast<unsigned>(f.get_freq().getValue()), f.get_enable().getValue() ? 1u : 0u,
                              f.get_duration_th_msec().getValue(), f.get_det_level_dB().getValue());
      return true;
    }
    default:
      return false;
  }
}

// The port's timeslot is no longer driven and its part of the device is
// undone; the slot can go at once.
template <class Port>
bool releasePort(Port& port) {
  HwMux::instance().Disable(port.timeslot());
  if (port.mixer()) port.mixer()->Release(port);
  return true;
}

}  // namespace

MixerSlot::~MixerSlot() {
  if (mixer_) mixer_->UnRegister(this);
}

TdmInput::~TdmInput() {
  Hardware::TonecReceiver::CleanBeforeDestroy();
  Hardware::DSProcReceiver::CleanBeforeDestroy();
}

bool TdmInput::IBeforeDestroy() { return releasePort(*this); }

bool TdmInput::Ioctl(const Ioctls& p) {
  switch (p.getSelection()) {
    case Ioctls::e_echoSuppressor:
      return echoCancel(p.get_echoSuppressor().getValue());
    case Ioctls::e_dtmf_enable:
      return enableDTMF(p.get_dtmf_enable().getValue());
    case Ioctls::e_dtmf_reject_enable:
      return enableDTMFReject(p.get_dtmf_reject_enable().getValue());
    case Ioctls::e_iva_params:
      return configureIVA(p.get_iva_params());
    case Ioctls::e_rx_gain:
      // The driver takes the gain in one octet.
      configureRxGain(static_cast<signed char>(p.get_rx_gain().get_gainDB().getValue() & 0xFF));
      return true;
    default:
      return commonIoctl(p, *this, *this, *this);
  }
}

TdmOutput::~TdmOutput() {
  Hardware::TonecReceiver::CleanBeforeDestroy();
  Hardware::DSProcReceiver::CleanBeforeDestroy();
}

bool TdmOutput::IBeforeDestroy() { return releasePort(*this); }

bool TdmOutput::Ioctl(const Ioctls& p) {
  switch (p.getSelection()) {
    case Ioctls::e_dtmf_disable:
      return disableToneGenerator(false);
    case Ioctls::e_dtmf_reject_disable:
      return enableDTMFReject(false);
    case Ioctls::e_tone_gen_enable: {
      const LGCP::ToneGenerator& g = p.get_tone_gen_enable();
      disableToneGenerator(false);
      enableToneGenerator(static_cast<unsigned short>(g.get_freq().getValue()), 0,
                          static_cast<unsigned short>(g.get_amp().getValue()), 0);
      return true;
    }
    case Ioctls::e_tone_gen_disable:
      disableToneGenerator(true);
      return true;
    default:
      return commonIoctl(p, *this, *this, *this);
  }
}

}  // namespace Mixer
