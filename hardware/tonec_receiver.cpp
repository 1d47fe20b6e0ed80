#include "hardware/tonec_receiver.h"

#include <errno.h>
#include <fcntl.h>

#include <iostream>

#include "platform/drv.h"
#include "platform/sysroot.h"

namespace Dtmf {

const char strRep[16] = {'0', '1', '2', '3', '4', '5', '6', '7', '8', '9', '*', '#', 'A', 'B', 'C', 'D'};
// Q.23: rows 697 770 852 941 Hz, columns 1209 1336 1477 1633 Hz.
const unsigned short freq1[16] = {941, 697, 697, 697, 770, 770, 770, 852, 852, 852, 941, 941, 697, 770, 852, 941};
const unsigned short freq2[16] = {1336, 1209, 1336, 1477, 1209, 1336, 1477, 1209, 1336, 1477, 1209, 1477, 1633, 1633, 1633, 1633};

namespace {
std::map<char, std::pair<unsigned short, unsigned short>> buildTones() {
  std::map<char, std::pair<unsigned short, unsigned short>> tones;
  for (int i = 0; i < 16; ++i) tones.insert(std::make_pair(strRep[i], std::make_pair(freq1[i], freq2[i])));
  return tones;
}
}  // namespace

const std::map<char, std::pair<unsigned short, unsigned short>> tonesValidator = buildTones();

}  // namespace Dtmf

namespace Hardware {

namespace {

constexpr unsigned kDefaultAmplitude = 16384;
constexpr unsigned kDefaultDuration = 70;  // ms, tone and pause of a dialled digit
constexpr unsigned kSelcalAmplitude = 12000;
constexpr unsigned kWaitToneOn = 1000;   // ms
constexpr unsigned kWaitToneOff = 3000;  // ms

using P = LGCP::TranslateDtmfParams;

// An optional number of a digit string, or what stands for it when absent.
int optional(const P& p, unsigned id, const ASN1::INTEGER& field, unsigned absent) {
  return p.hasOptionalField(id) ? field.getValue() : static_cast<int>(absent);
}

}  // namespace

// ---- the service ----

TonecReceiverService& TonecReceiverService::instance() {
  static TonecReceiverService service;
  return service;
}

TonecReceiverService::TonecReceiverService()
    : TimeslotEventService(sysroot::dtmf, O_RDONLY | O_NONBLOCK | O_CLOEXEC, "tonec", "TonecReceiverService::OnEvent",
                           "open tonec fail, DTMF proceeding disabled: ") {}

bool TonecReceiverService::configureDTMF(unsigned timeslot, const LGCP::DTMFParams& params) {
  if (!ensureOpen("configure DTMF fail: (interface not opened)", timeslot)) return false;
  tonec::dtmf_detector_config rec{};
  rec.timeslot = timeslot;
  rec.twist = static_cast<std::uint32_t>(params.get_threshold().get_twist().getValue());
  rec.ratio = static_cast<std::uint32_t>(params.get_threshold().get_ratio().getValue());
  rec.silence = static_cast<std::uint32_t>(params.get_level().get_silence().getValue());
  rec.noise = static_cast<std::uint32_t>(params.get_threshold().get_noise().getValue());
  if (drv::ioctl_ptr(fd_.get(), tonec::DTMF_CONFIGURE_DETECTOR, &rec, sizeof rec) < 0) {
    const int err = errno;
    failTail(std::cerr << "DTMF_CONFIGURE_DETECTOR fail:", timeslot, err);
    return false;
  }
  std::clog << "DTMF_CONFIGURE_DETECTOR" << " ts=" << timeslot << " twist=" << rec.twist << " ratio=" << rec.ratio
            << " noise=" << rec.noise << " silence=" << rec.silence << std::endl;
  return true;
}

bool TonecReceiverService::enableDTMF(TonecReceiver& receiver, bool on) {
  if (receiver.dtmfEnabled_ == on) return true;
  const unsigned timeslot = receiver.tonec_timeslot();
  if (on) {
    const std::uint32_t id = nextId();
    tonec::dtmf_enable rec{timeslot, id};
    if (drv::ioctl_ptr(fd_.get(), tonec::DTMF_ENABLE_DETECTOR, &rec, sizeof rec) < 0) {
      const int err = errno;
      errnoTail(std::cerr << "DTMF_ENABLE_DETECTOR fail:" << " timeslot=" << timeslot << " id=" << id, err);
      return false;
    }
    std::cerr << "DTMF_ENABLE_DETECTOR done:" << " timeslot=" << timeslot << " id=" << id << std::endl;
    receiver.dtmfId_ = id;
    receiver.dtmfEnabled_ = true;
    return true;
  }
  if (drv::ioctl_val(fd_.get(), tonec::DTMF_DISABLE_DETECTOR, timeslot) < 0) {
    const int err = errno;
    failTail(std::cerr << "DTMF_DISABLE_DETECTOR fail:", timeslot, err);
    return false;
  }
  std::cerr << "DTMF_DISABLE_DETECTOR done:" << " timeslot=" << timeslot << std::endl;
  receiver.dtmfEnabled_ = false;
  return true;
}

bool TonecReceiverService::switchByValue(unsigned long code, unsigned timeslot, const char* name,
                                         const char* state) {
  if (drv::ioctl_val(fd_.get(), code, timeslot) < 0) {
    const int err = errno;
    failTail(std::cerr << name << state << " fail:", timeslot, err);
    return false;
  }
  std::clog << name << state << "[" << timeslot << "] ok" << std::endl;
  return true;
}

bool TonecReceiverService::echoCancel(unsigned timeslot, bool on) {
  return switchByValue(on ? tonec::CHANNEL_LMS_ON : tonec::CHANNEL_LMS_OFF, timeslot, "CHANNEL_LMS",
                       on ? "_ON" : "_OFF");
}

bool TonecReceiverService::enableDTMFReject(unsigned timeslot, bool on) {
  return switchByValue(on ? tonec::DTMF_REJECTION_ENABLE : tonec::DTMF_REJECTION_DISABLE, timeslot,
                       "DTMF_REJECTION", on ? "_ENABLE" : "_DISABLE");
}

bool TonecReceiverService::enableIVA(TonecReceiver& receiver, bool on) {
  if (!switchByValue(on ? tonec::IVA_DETECTOR_ENABLE : tonec::IVA_DETECTOR_DISABLE, receiver.tonec_timeslot(),
                     "IVA_DETECTOR", on ? "_ENABLE" : "_DISABLE"))
    return false;
  receiver.ivaEnabled_ = on;
  return true;
}

bool TonecReceiverService::enableToneGenerator(unsigned timeslot, unsigned short freq1, unsigned short freq2,
                                               unsigned short amp1, unsigned short amp2) {
  tonec::dtmf_dial rec{timeslot, freq1, freq2, amp1, amp2};
  if (drv::ioctl_ptr(fd_.get(), tonec::DTMF_DIAL, &rec, sizeof rec) < 0) {
    const int err = errno;
    failTail(std::cerr << "DTMF_DIAL fail:", timeslot, err);
    return false;
  }
  return true;
}

bool TonecReceiverService::configureIVA(TonecReceiver& receiver, const LGCP::IVAParams& params) {
  const unsigned timeslot = receiver.tonec_timeslot();
  if (!ensureOpen("configure IVA fail: (interface not opened)", timeslot)) return false;
  tonec::iva_config rec{timeslot, static_cast<std::int32_t>(params.get_det_lvl_dB().getValue())};
  if (drv::ioctl_ptr(fd_.get(), tonec::IVA_CONFIGURE_DETECTOR, &rec, sizeof rec) < 0) {
    const int err = errno;
    failTail(std::cerr << "IVA_CONFIGURE_DETECTOR fail:", timeslot, err);
    return false;
  }
  std::clog << "IVA_CONFIGURE_DETECTOR" << " ts=" << timeslot << " det_lvl_dB=" << rec.det_lvl_dB << std::endl;
  return true;
}

bool TonecReceiverService::translateSelcal(TonecReceiver& receiver, const TERM::SelcalCommand& command) {
  const unsigned timeslot = receiver.tonec_timeslot();
  const std::string& signs = command.get_signs();
  if (signs.size() < 4) {
    std::cerr << "SELCAL_DIAL fail:" << " timeslot=" << timeslot << " incorect signs:" << signs << std::endl;
    return false;
  }
  tonec::selcal_dial rec{};
  rec.timeslot = timeslot;
  rec.amplitude = static_cast<std::uint16_t>(
      command.hasOptionalField(TERM::SelcalCommand::o_amp) ? command.get_amp().getValue() : kSelcalAmplitude);
  signs.copy(rec.signs, sizeof rec.signs);
  if (drv::ioctl_ptr(fd_.get(), tonec::SELCAL_DIAL, &rec, sizeof rec) < 0) {
    const int err = errno;
    failTail(std::cerr << "SELCAL_DIAL fail:", timeslot, err);
    return false;
  }
  return true;
}

void TonecReceiverService::dispatch(const tonec::tonec_event& event) {
  std::clog << "dtmf event: " << " timestamp=" << event.timestamp << " timeslot=" << event.timeslot
            << " code=" << event.code << " id=" << event.id << std::endl;
  TonecReceiver* receiver = first(event.timeslot, &TonecReceiver::tonec_timeslot);
  if (!receiver) {
    std::cerr << "receive tonec event from unknown timeslot " << event.timeslot << std::endl;
  } else if (!receiver->detector_enabled()) {
    std::clog << "ignore spurious dtmf event (DTMF disabled): " << " timestamp=" << event.timestamp
              << " timeslot=" << event.timeslot << " code=" << event.code << " id=" << event.id << std::endl;
  } else if (receiver->dtmfId_ != event.id) {
    std::clog << "ignore spurious dtmf event: " << " timestamp=" << event.timestamp << " timeslot=" << event.timeslot
              << " code=" << event.code << " id=" << event.id << " rid=" << receiver->dtmfId_ << std::endl;
  } else {
    // The receiver may go away inside; nothing of it is touched after.
    receiver->tonec_event(TonecReceiver::Params{event.code, event.timestamp});
  }
}

// ---- the receiver ----

void TonecReceiver::tone_gen_complete() {}

bool TonecReceiver::configureDTMF(const LGCP::DTMFParams& params) {
  return TonecReceiverService::instance().configureDTMF(tonec_timeslot(), params);
}

bool TonecReceiver::enableDTMF(bool on) { return TonecReceiverService::instance().enableDTMF(*this, on); }

bool TonecReceiver::echoCancel(bool on) { return TonecReceiverService::instance().echoCancel(tonec_timeslot(), on); }

bool TonecReceiver::enableDTMFReject(bool on) {
  if (!TonecReceiverService::instance().enableDTMFReject(tonec_timeslot(), on)) return false;
  rejectEnabled_ = on;
  return true;
}

bool TonecReceiver::enableToneGenerator(unsigned short freq1, unsigned short freq2, unsigned short amp1,
                                        unsigned short amp2) {
  return TonecReceiverService::instance().enableToneGenerator(tonec_timeslot(), freq1, freq2, amp1, amp2);
}

bool TonecReceiver::disableToneGenerator(bool force) {
  if (!force && !dialling_) return true;
  if (dialling_) {
    toneTimer_.reset();
    dialling_ = false;
  }
  return enableToneGenerator(0, 0, 0, 0);
}

bool TonecReceiver::enableIVA(bool on) { return TonecReceiverService::instance().enableIVA(*this, on); }

bool TonecReceiver::configureIVA(const LGCP::IVAParams& params) {
  return TonecReceiverService::instance().configureIVA(*this, params);
}

bool TonecReceiver::translateSelcal(const TERM::SelcalCommand& command) {
  return TonecReceiverService::instance().translateSelcal(*this, command);
}

void TonecReceiver::translateDTMF(const LGCP::TranslateDtmfParams& params) {
  dial_ = params;
  if (dialling_) return;  // the playing string goes on with the new digits
  dialling_ = true;
  OnDialPause();
}

void TonecReceiver::OnDialPause() {
  auto& digits = dial_.get_digits();
  if (digits.size() == 0) {
    disableToneGenerator(true);
    tone_gen_complete();  // may destroy this receiver
    return;
  }
  const unsigned short freq1 = static_cast<unsigned short>(digits[0].get_freq1().getValue());
  const unsigned short freq2 = static_cast<unsigned short>(digits[0].get_freq2().getValue());
  digits.erase(0, 1);
  const int amp1 = optional(dial_, P::o_amp1, dial_.get_amp1(), kDefaultAmplitude);
  const int amp2 = optional(dial_, P::o_amp2, dial_.get_amp2(), kDefaultAmplitude);
  enableToneGenerator(freq1, freq2, static_cast<unsigned short>(amp1), static_cast<unsigned short>(amp2));
  const int tone = optional(dial_, P::o_toneDuration, dial_.get_toneDuration(), kDefaultDuration);
  toneTimer_.set(static_cast<unsigned>(tone), &TonecReceiver::OnDialToneEnd, this);
}

void TonecReceiver::OnDialToneEnd() {
  enableSilence();
  const int pause = optional(dial_, P::o_pauseDuration, dial_.get_pauseDuration(), kDefaultDuration);
  toneTimer_.set(static_cast<unsigned>(pause), &TonecReceiver::OnDialPause, this);
}

void TonecReceiver::activateAudibleCall() {
  // The cadence takes the timer over: a digit string still playing is
  // abandoned rather than left marked as playing for ever.
  dialling_ = false;
  OnWaitTone();
}

void TonecReceiver::OnWaitTone() {
  enableToneGenerator(425, 0, 2048, 2048);
  toneTimer_.set(kWaitToneOn, &TonecReceiver::OnWaitPause, this);
}

void TonecReceiver::OnWaitPause() {
  enableSilence();
  toneTimer_.set(kWaitToneOff, &TonecReceiver::OnWaitTone, this);
}

void TonecReceiver::cancelAudibleCall() {
  if (dialling_) return;
  // The cadence stops with the tone, or its next step would switch it on
  // again.
  toneTimer_.reset();
  disableToneGenerator(true);
}

void TonecReceiver::CleanBeforeDestroy() {
  if (dtmfEnabled_) enableDTMF(false);
  if (ivaEnabled_) enableIVA(false);
  if (rejectEnabled_) enableDTMFReject(false);
}

}  // namespace Hardware
