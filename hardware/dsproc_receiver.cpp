#include "hardware/dsproc_receiver.h"

#include <errno.h>
#include <fcntl.h>

#include <iostream>

#include "platform/drv.h"
#include "platform/sysroot.h"
#include "runtime/traces.h"

namespace Hardware {

namespace {

struct FeatureInfo {
  const char* name;  // in the log texts
  std::uint32_t bit;
};

// Indexed by DSProcReceiverService::Feature.
const FeatureInfo kFeatures[] = {
    {"VAD", dsproc::FEATURE_VAD},
    {"BSS", dsproc::FEATURE_BSS},
    {"NG", dsproc::FEATURE_NG},
    {"SELCAL_SH", dsproc::FEATURE_SELCAL_SH},
    {"SD", dsproc::FEATURE_SD},
};

}  // namespace

// ---- the service ----

DSProcReceiverService& DSProcReceiverService::instance() {
  static DSProcReceiverService service;
  return service;
}

DSProcReceiverService::DSProcReceiverService()
    : TimeslotEventService(sysroot::dsp, O_RDWR | O_NONBLOCK | O_CLOEXEC, "dsproc", "DSProcReceiverService::OnEvent",
                           "open dsproc fail, VAD proceeding disabled: ") {}

bool DSProcReceiverService::configure(dsproc::dsproc_configure& rec, const char* failText) {
  if (drv::ioctl_ptr(fd_.get(), dsproc::DSPROC_CONFIGURE, &rec, sizeof rec) < 0) {
    const int err = errno;
    failTail(std::cerr << failText, rec.timeslot, err);
    return false;
  }
  return true;
}

bool DSProcReceiverService::configureVAD(unsigned timeslot, const LGCP::VADParams& params) {
  if (!ensureOpen("configure VAD fail: (interface not opened)", timeslot)) return false;
  const int version = drv::ioctl_val(fd_.get(), dsproc::DSPROC_VAD_VERSION, 0);
  dsproc::dsproc_configure rec{};
  rec.timeslot = timeslot;
  rec.kind = dsproc::KIND_VAD;
  if (version == dsproc::VAD_VERSION_2) {
    if (params.getSelection() != LGCP::VADParams::e_v2) {
      std::cerr << "DSPROC_CONFIGURE VAD: params not specified for v2: " << " timeslot=" << timeslot << std::endl;
      return false;
    }
    const TERM::VADParamsV2& v2 = params.get_v2();
    rec.params.vad_v2.voice_th_msec = static_cast<std::uint16_t>(v2.get_voice_th_msec().getValue());
    rec.params.vad_v2.silence_th_msec = static_cast<std::uint16_t>(v2.get_silence_th_msec().getValue());
    rec.params.vad_v2.e_th_dB = static_cast<std::uint8_t>(v2.get_e_th_dB().getValue());
  } else {
    rec.params.vad_fixed.word1 = 3;
    rec.params.vad_fixed.word2 = 127;
  }
  if (!configure(rec, "DSPROC_CONFIGURE VAD fail:")) return false;
  std::clog << "DSPROC_CONFIGURE VAD" << " ts=" << timeslot << std::endl;
  return true;
}

bool DSProcReceiverService::configureSD(unsigned timeslot) {
  if (!ensureOpen("configure SD fail: (interface not opened)", timeslot)) return false;
  dsproc::dsproc_configure rec{};
  rec.timeslot = timeslot;
  rec.kind = dsproc::KIND_SD;
  if (!configure(rec, "DSPROC_CONFIGURE SD fail:")) return false;
  std::clog << "DSPROC_CONFIGURE SD" << " ts=" << timeslot << std::endl;
  return true;
}

bool DSProcReceiverService::configureDelays(unsigned timeslot, unsigned rx, unsigned tx, unsigned selcal) {
  if (!ensureOpen("configure Delays fail: (interface not opened)", timeslot)) return false;
  dsproc::dsproc_configure rec{};
  rec.timeslot = timeslot;
  rec.kind = dsproc::KIND_DELAYS;
  rec.params.delays.rx = rx;
  rec.params.delays.tx = tx;
  rec.params.delays.selcal = selcal;
  if (!configure(rec, "DSPROC_CONFIGURE DELAYS fail:")) return false;
  std::clog << "DSPROC_CONFIGURE DELAYS" << " ts=" << timeslot << " rx=" << rx << " tx=" << tx
            << " selcal=" << selcal << std::endl;
  return true;
}

bool DSProcReceiverService::configureRxGain(unsigned timeslot, signed char gain_dB) {
  if (!ensureOpen("Configure Rx gain fail: (interface not opened)", timeslot)) return false;
  dsproc::dsproc_configure rec{};
  rec.timeslot = timeslot;
  rec.kind = dsproc::KIND_RX_GAIN;
  rec.params.rx_gain.gain_dB = gain_dB;
  if (!configure(rec, "DSPROC_CONFIGURE Rx Gain fail:")) return false;
  std::clog << "DSPROC_CONFIGURE RX GAIN" << " ts=" << timeslot << " gain_dB=" << static_cast<int>(gain_dB)
            << std::endl;
  return true;
}

bool DSProcReceiverService::configureToneFilter(unsigned timeslot, unsigned freq, unsigned enable, int duration_ms,
                                                int level_db) {
  if (!ensureOpen("Configure Tone Filter fail: (interface not opened)", timeslot)) return false;
  dsproc::dsproc_configure rec{};
  rec.timeslot = timeslot;
  rec.kind = dsproc::KIND_TONE_FILTER;
  rec.params.tone_filter.freq = static_cast<std::uint16_t>(freq);
  rec.params.tone_filter.enable = static_cast<std::uint8_t>(enable);
  rec.params.tone_filter.dur_th_msec = static_cast<std::uint16_t>(duration_ms);
  rec.params.tone_filter.det_lvl_dB = static_cast<std::int8_t>(level_db);
  if (!configure(rec, "DSPROC_CONFIGURE Tone Filter fail:")) return false;
  std::clog << "DSPROC_CONFIGURE TONE FILTER" << " ts=" << timeslot << " freq=" << freq << ", en=" << enable
            << ", dur_th_msec=" << duration_ms << ", det_lvl_dB=" << level_db << std::endl;
  return true;
}

bool DSProcReceiverService::switchMask(unsigned timeslot, const char* name, std::uint32_t mask, bool on,
                                       std::uint32_t& id) {
  if (on) {
    const std::uint32_t fresh = nextId();
    dsproc::dsproc_feature rec{timeslot, fresh, mask};
    if (drv::ioctl_ptr(fd_.get(), dsproc::DSPROC_ENABLE, &rec, sizeof rec) < 0) {
      const int err = errno;
      errnoTail(std::cerr << "DSPROC_ENABLE " << name << " fail:" << " timeslot=" << timeslot << " id=" << fresh, err);
      return false;
    }
    std::cerr << "DSPROC_ENABLE " << name << " done:" << " timeslot=" << timeslot << " id=" << fresh << std::endl;
    id = fresh;
    return true;
  }
  dsproc::dsproc_feature rec{timeslot, 0, mask};
  if (drv::ioctl_ptr(fd_.get(), dsproc::DSPROC_DISABLE, &rec, sizeof rec) < 0) {
    const int err = errno;
    failTail(std::cerr << "DSPROC_DISABLE " << name << " fail:", timeslot, err);
    return false;
  }
  std::cerr << "DSPROC_DISABLE " << name << " done:" << " timeslot=" << timeslot << std::endl;
  return true;
}

bool DSProcReceiverService::enable(DSProcReceiver& receiver, Feature feature, bool on) {
  DSProcReceiver::FeatureState& st = receiver.feature_[feature];
  if (st.state >= 0 && st.state == (on ? 1 : 0)) return true;
  if (!switchMask(receiver.dsproc_timeslot(), kFeatures[feature].name, kFeatures[feature].bit, on, st.id))
    return false;
  st.state = on ? 1 : 0;
  return true;
}

bool DSProcReceiverService::enableMute(DSProcReceiver& receiver, bool rx, bool tx) {
  if (receiver.rxMute_ >= 0 && receiver.txMute_ >= 0 && receiver.rxMute_ == (rx ? 1 : 0) &&
      receiver.txMute_ == (tx ? 1 : 0))
    return true;
  // Off is both directions off at once.
  const bool on = rx || tx;
  const std::uint32_t mask = on ? (rx ? dsproc::FEATURE_RX_MUTE : 0u) | (tx ? dsproc::FEATURE_TX_MUTE : 0u)
                                : dsproc::FEATURE_RX_MUTE | dsproc::FEATURE_TX_MUTE;
  if (!switchMask(receiver.dsproc_timeslot(), "MUTE", mask, on, receiver.muteId_)) return false;
  receiver.rxMute_ = rx ? 1 : 0;
  receiver.txMute_ = tx ? 1 : 0;
  return true;
}

bool DSProcReceiverService::disableToneAll(unsigned timeslot) {
  if (!ensureOpen("Disable All Tone fail: (interface not opened)", timeslot)) return false;
  dsproc::dsproc_feature rec{timeslot, 0, dsproc::FEATURE_TONE_ALL};
  if (drv::ioctl_ptr(fd_.get(), dsproc::DSPROC_DISABLE, &rec, sizeof rec) < 0) {
    const int err = errno;
    failTail(std::cerr << "Disable All Tone fail:", timeslot, err);
    return false;
  }
  std::clog << "DISABLE ALL TONE done: " << " timeslot=" << timeslot << std::endl;
  return true;
}

void DSProcReceiverService::dispatch(const dsproc::dsproc_event& event) {
  const bool trace = traces.signalling_events;
  if (trace) {
    std::clog << "dsproc event: " << " timeslot=" << event.timeslot << " id=" << event.id << " type=" << event.type
              << std::endl;
    switch (event.type) {
      case dsproc::EVENT_VAD:
        std::clog << "dsproc vad event: " << " dir_mask=" << event.payload.vad.dir_mask
                  << " vad_rx=" << event.payload.vad.rx << " vad_tx=" << event.payload.vad.tx << std::endl;
        break;
      case dsproc::EVENT_SD:
        std::clog << "dsproc sd event: " << " sd_rx=" << event.payload.sd.value << std::endl;
        break;
      case dsproc::EVENT_BSS:
        std::clog << "dsproc bss event: " << " score=" << event.payload.bss.score << std::endl;
        break;
      case dsproc::EVENT_FLAGS:
        std::clog << "dsproc flags event: " << std::hex << " flags=" << event.payload.flags.flags
                  << ", mask=" << event.payload.flags.mask << std::dec << std::endl;
        break;
      default:
        break;
    }
  }
  DSProcReceiver* receiver = first(event.timeslot, &DSProcReceiver::dsproc_timeslot);
  if (!receiver) {
    if (trace) std::cerr << "receive dsproc event from unknown timeslot " << event.timeslot << std::endl;
    return;
  }
  // The receiver may go away inside its handler; nothing of it is touched
  // after the call.
  switch (event.type) {
    case dsproc::EVENT_VAD: {
      const DSProcReceiver::FeatureState& vad = receiver->feature_[VAD];
      if (vad.state == 0) {
        if (trace)
          std::clog << "ignore spurious dsproc vad event (dsproc disabled): " << " timeslot=" << event.timeslot
                    << " id=" << event.id << " type=" << event.type << std::endl;
      } else if (vad.id != event.id) {
        if (trace)
          std::clog << "ignore spurious dsproc vad event: " << " timeslot=" << event.timeslot
                    << " id=" << event.id << " type=" << event.type << " rid=" << vad.id << std::endl;
      } else {
        DSProcVADEvent vadEvent{-1, -1};
        if (event.payload.vad.dir_mask & 0x1) vadEvent.rx = event.payload.vad.rx;
        if (event.payload.vad.dir_mask & 0x2) vadEvent.tx = event.payload.vad.tx;
        receiver->dsproc_vad_event(vadEvent);
      }
      break;
    }
    case dsproc::EVENT_SD: {
      const DSProcReceiver::FeatureState& sd = receiver->feature_[SD];
      if (sd.state != 0 && sd.id == event.id) receiver->dsproc_sd_event(DSProcSDEvent{event.payload.sd.value});
      break;
    }
    case dsproc::EVENT_BSS:
      // BSS events are not matched by id.
      if (receiver->feature_[BSS].state == 0) {
        if (trace)
          std::clog << "ignore spurious dsproc bss event (dsproc disabled): " << " timeslot=" << event.timeslot
                    << " id=" << event.id << " type=" << event.type << std::endl;
      } else {
        receiver->dsproc_bss_event(&event.payload.bss);
      }
      break;
    case dsproc::EVENT_TONE:
      receiver->dsproc_tone_flt_event(&event.payload.tone);
      break;
    case dsproc::EVENT_FLAGS:
      receiver->dsproc_flags_event(&event.payload.flags);
      break;
    default:
      break;
  }
}

// ---- the receiver ----

bool DSProcReceiver::enable(DSProcReceiverService::Feature feature, bool on) {
  return DSProcReceiverService::instance().enable(*this, feature, on);
}

bool DSProcReceiver::configureVAD(const LGCP::VADParams& params) {
  return DSProcReceiverService::instance().configureVAD(dsproc_timeslot(), params);
}

bool DSProcReceiver::configureSD() { return DSProcReceiverService::instance().configureSD(dsproc_timeslot()); }

bool DSProcReceiver::enableMute(bool rx, bool tx) {
  return DSProcReceiverService::instance().enableMute(*this, rx, tx);
}

bool DSProcReceiver::configureDelays(unsigned rx, unsigned tx, unsigned selcal) {
  if (!DSProcReceiverService::instance().configureDelays(dsproc_timeslot(), rx, tx, selcal)) return false;
  delaysSet_ = rx != 0 || tx != 0 || selcal != 0;
  return true;
}

bool DSProcReceiver::configureRxGain(signed char gain_dB) {
  if (!DSProcReceiverService::instance().configureRxGain(dsproc_timeslot(), gain_dB)) return false;
  rxGainSet_ = gain_dB != 0;
  return true;
}

bool DSProcReceiver::configureToneFilter(unsigned freq, unsigned enable, int duration_ms, int level_db) {
  return DSProcReceiverService::instance().configureToneFilter(dsproc_timeslot(), freq, enable, duration_ms,
                                                               level_db);
}

bool DSProcReceiver::disableToneAll() { return DSProcReceiverService::instance().disableToneAll(dsproc_timeslot()); }

void DSProcReceiver::CleanBeforeDestroy() {
  if (feature_[DSProcReceiverService::VAD].state == 1) disableVAD();
  if (feature_[DSProcReceiverService::BSS].state == 1) disableBSS();
  if (feature_[DSProcReceiverService::NG].state == 1) disableNG();
  if (feature_[DSProcReceiverService::SELCAL_SH].state == 1) disableSelcalSh();
  if (delaysSet_) configureDelays(0, 0, 0);
  if (rxGainSet_) configureRxGain(0);
  disableToneAll();
}

}  // namespace Hardware
