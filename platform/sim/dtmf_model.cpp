#include "platform/sim/dtmf_model.h"

#include <errno.h>

#include <cstring>

#include "platform/sim/model_commands.h"
#include "platform/sysroot.h"
#include "runtime/mux_clock.h"

namespace sim {

namespace tc = Hardware::tonec;

namespace {

const char* onOff(bool on) { return on ? "on" : "off"; }

class DtmfDevice : public Device {
 public:
  int ioctl_ptr(unsigned long code, void* rec, std::size_t size) override {
    auto& slots = DtmfModel::state().timeslots;
    switch (code) {
      case tc::DTMF_CONFIGURE_DETECTOR: {
        tc::dtmf_detector_config r;
        if (size != sizeof r) return refuse(EINVAL);
        std::memcpy(&r, rec, sizeof r);
        DtmfModel::Timeslot& t = slots[r.timeslot];
        t.configured = true;
        t.config = r;
        return 0;
      }
      case tc::DTMF_ENABLE_DETECTOR: {
        tc::dtmf_enable r;
        if (size != sizeof r) return refuse(EINVAL);
        std::memcpy(&r, rec, sizeof r);
        slots[r.timeslot].detector = true;
        slots[r.timeslot].id = r.id;
        return 0;
      }
      case tc::DTMF_DIAL: {
        tc::dtmf_dial r;
        if (size != sizeof r) return refuse(EINVAL);
        std::memcpy(&r, rec, sizeof r);
        slots[r.timeslot].tones.push_back(DtmfModel::Tone{Mux::milliseconds(), r.freq1, r.freq2, r.amp1, r.amp2});
        return 0;
      }
      case tc::IVA_CONFIGURE_DETECTOR: {
        tc::iva_config r;
        if (size != sizeof r) return refuse(EINVAL);
        std::memcpy(&r, rec, sizeof r);
        slots[r.timeslot].ivaConfigured = true;
        slots[r.timeslot].ivaLevel = r.det_lvl_dB;
        return 0;
      }
      case tc::SELCAL_DIAL: {
        tc::selcal_dial r;
        if (size != sizeof r) return refuse(EINVAL);
        std::memcpy(&r, rec, sizeof r);
        slots[r.timeslot].selcal.assign(r.signs, sizeof r.signs);
        slots[r.timeslot].selcalAmp = r.amplitude;
        return 0;
      }
      case tc::DTMF_DISABLE_DETECTOR:
      case tc::CHANNEL_LMS_ON:
      case tc::CHANNEL_LMS_OFF:
      case tc::DTMF_REJECTION_ENABLE:
      case tc::DTMF_REJECTION_DISABLE:
      case tc::IVA_DETECTOR_ENABLE:
      case tc::IVA_DETECTOR_DISABLE:
        return refuse(EINVAL);  // these take the timeslot itself
      default:
        return Device::ioctl_ptr(code, rec, size);
    }
  }

  int ioctl_val(unsigned long code, unsigned long value) override {
    auto& slots = DtmfModel::state().timeslots;
    const std::uint32_t ts = static_cast<std::uint32_t>(value);
    bool DtmfModel::Timeslot::*flag = nullptr;
    bool on = false;
    switch (code) {
      case tc::DTMF_DISABLE_DETECTOR:
        flag = &DtmfModel::Timeslot::detector;
        break;
      case tc::CHANNEL_LMS_ON:
      case tc::CHANNEL_LMS_OFF:
        flag = &DtmfModel::Timeslot::lms;
        on = code == tc::CHANNEL_LMS_ON;
        break;
      case tc::DTMF_REJECTION_ENABLE:
      case tc::DTMF_REJECTION_DISABLE:
        flag = &DtmfModel::Timeslot::reject;
        on = code == tc::DTMF_REJECTION_ENABLE;
        break;
      case tc::IVA_DETECTOR_ENABLE:
      case tc::IVA_DETECTOR_DISABLE:
        flag = &DtmfModel::Timeslot::iva;
        on = code == tc::IVA_DETECTOR_ENABLE;
        break;
      case tc::DTMF_CONFIGURE_DETECTOR:
      case tc::DTMF_ENABLE_DETECTOR:
      case tc::DTMF_DIAL:
      case tc::IVA_CONFIGURE_DETECTOR:
      case tc::SELCAL_DIAL:
        return refuse(EFAULT);  // these take a record
      default:
        return Device::ioctl_val(code, value);
    }
    slots[ts].*flag = on;
    return 0;
  }
};

std::string describe(std::uint32_t ts, const DtmfModel::Timeslot& t) {
  std::string s = "ts=" + std::to_string(ts) + " detector=" + onOff(t.detector) + " id=" + std::to_string(t.id);
  if (t.configured)
    s += " twist=" + std::to_string(t.config.twist) + " ratio=" + std::to_string(t.config.ratio) +
         " silence=" + std::to_string(t.config.silence) + " noise=" + std::to_string(t.config.noise);
  s += std::string(" lms=") + onOff(t.lms) + " reject=" + onOff(t.reject) + " iva=" + onOff(t.iva);
  if (t.ivaConfigured) s += " iva_level=" + std::to_string(t.ivaLevel);
  if (!t.tones.empty()) {
    const DtmfModel::Tone& g = t.tones.back();
    s += " tone=" + std::to_string(g.freq1) + "," + std::to_string(g.freq2) + "," + std::to_string(g.amp1) + "," +
         std::to_string(g.amp2);
  }
  if (!t.selcal.empty()) s += " selcal=" + t.selcal + " selcal_amp=" + std::to_string(t.selcalAmp);
  return s;
}

const char kUsage[] =
    "dtmf TS CODE [id ID] [time T]: a detector event on timeslot TS (id: that of the timeslot's latest enabling"
    " unless given; time: the loop clock in ms unless given) | dtmf state [TS] | dtmf tones TS: the generator's"
    " requests with their times | dtmf raw HEX...: one record as given | dtmf reset";

void command(Board& board, const Board::Args& a, Board::Reply& r) {
  const auto& slots = DtmfModel::state().timeslots;
  std::uint32_t ts;
  if (a.size() >= 2 && words::to_u32(a[0], ts)) {
    tc::tonec_event ev{};
    ev.timeslot = ts;
    auto it = slots.find(ts);
    ev.id = it == slots.end() ? 0 : it->second.id;
    ev.timestamp = Mux::milliseconds();
    if (!words::to_u32(a[1], ev.code)) return r.fail("bad code '" + a[1] + "'");
    for (std::size_t i = 2; i < a.size(); i += 2) {
      std::uint32_t v;
      if (i + 1 >= a.size() || !words::to_u32(a[i + 1], v) || (a[i] != "id" && a[i] != "time"))
        return r.fail(std::string("usage: ") + kUsage);
      (a[i] == "id" ? ev.id : ev.timestamp) = v;
    }
    if (!board.broadcast(sysroot::dtmf, &ev, sizeof ev)) r.fail(std::string("no open ") + sysroot::dtmf);
    return;
  }
  if (!a.empty() && a[0] == "state" && a.size() <= 2) return timeslot_state(slots, a, describe, r);
  if (a.size() == 2 && a[0] == "tones") {
    if (!words::to_u32(a[1], ts)) return r.fail("bad timeslot '" + a[1] + "'");
    auto it = slots.find(ts);
    if (it == slots.end()) return;
    for (const DtmfModel::Tone& g : it->second.tones)
      r.line("at=" + std::to_string(g.at) + " freq1=" + std::to_string(g.freq1) + " freq2=" +
             std::to_string(g.freq2) + " amp1=" + std::to_string(g.amp1) + " amp2=" + std::to_string(g.amp2));
    return;
  }
  if (a.size() >= 2 && a[0] == "raw") return raw_record(board, sysroot::dtmf, a, r);
  if (a.size() == 1 && a[0] == "reset") return DtmfModel::state().reset();
  r.fail(std::string("usage: ") + kUsage);
}

}  // namespace

DtmfModel::State& DtmfModel::state() {
  static State s;
  return s;
}

void DtmfModel::install(Board& board) {
  board.add_model(sysroot::dtmf, std::make_unique<ModelOf<DtmfDevice>>());
  board.add_command("dtmf", kUsage, [&board](const Board::Args& a, Board::Reply& r) { command(board, a, r); });
}

}  // namespace sim
