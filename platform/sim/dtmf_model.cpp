#include "platform/sim/dtmf_model.h"

#include <errno.h>

#include <cstdio>
#include <cstring>

#include "platform/sim/command_words.h"
#include "platform/sysroot.h"
#include "runtime/mux_clock.h"

namespace sim {

namespace tc = Hardware::tonec;

namespace {

// The requests by the names the "dtmf fail" command takes (0: the open).
struct RequestName {
  unsigned long code;
  const char* name;
};
const RequestName kRequests[] = {
    {0, "open"},
    {tc::DTMF_CONFIGURE_DETECTOR, "configure"},
    {tc::DTMF_ENABLE_DETECTOR, "enable"},
    {tc::DTMF_DISABLE_DETECTOR, "disable"},
    {tc::DTMF_DIAL, "dial"},
    {tc::CHANNEL_LMS_ON, "lms-on"},
    {tc::CHANNEL_LMS_OFF, "lms-off"},
    {tc::DTMF_REJECTION_ENABLE, "reject-on"},
    {tc::DTMF_REJECTION_DISABLE, "reject-off"},
    {tc::IVA_DETECTOR_ENABLE, "iva-on"},
    {tc::IVA_DETECTOR_DISABLE, "iva-off"},
    {tc::IVA_CONFIGURE_DETECTOR, "iva-configure"},
    {tc::SELCAL_DIAL, "selcal"},
};

bool requestCode(const std::string& name, unsigned long& code) {
  for (const RequestName& r : kRequests)
    if (name == r.name) {
      code = r.code;
      return true;
    }
  return false;
}

const char* onOff(bool on) { return on ? "on" : "off"; }

int refuse(int err) {
  errno = err;
  return -1;
}

// A failure set for the request: its errno, or 0.
int failureOf(unsigned long code) {
  const auto& failures = DtmfModel::state().failures;
  auto it = failures.find(code);
  return it == failures.end() ? 0 : it->second;
}

class DtmfDevice : public Device {
 public:
  int ioctl_ptr(unsigned long code, void* rec, std::size_t size) override {
    auto& slots = DtmfModel::state().timeslots;
    switch (code) {
      case tc::DTMF_CONFIGURE_DETECTOR: {
        tc::dtmf_detector_config r;
        if (size != sizeof r) return refuse(EINVAL);
        if (int err = failureOf(code)) return refuse(err);
        std::memcpy(&r, rec, sizeof r);
        DtmfModel::Timeslot& t = slots[r.timeslot];
        t.configured = true;
        t.config = r;
        return 0;
      }
      case tc::DTMF_ENABLE_DETECTOR: {
        tc::dtmf_enable r;
        if (size != sizeof r) return refuse(EINVAL);
        if (int err = failureOf(code)) return refuse(err);
        std::memcpy(&r, rec, sizeof r);
        slots[r.timeslot].detector = true;
        slots[r.timeslot].id = r.id;
        return 0;
      }
      case tc::DTMF_DIAL: {
        tc::dtmf_dial r;
        if (size != sizeof r) return refuse(EINVAL);
        if (int err = failureOf(code)) return refuse(err);
        std::memcpy(&r, rec, sizeof r);
        slots[r.timeslot].tones.push_back(DtmfModel::Tone{Mux::milliseconds(), r.freq1, r.freq2, r.amp1, r.amp2});
        return 0;
      }
      case tc::IVA_CONFIGURE_DETECTOR: {
        tc::iva_config r;
        if (size != sizeof r) return refuse(EINVAL);
        if (int err = failureOf(code)) return refuse(err);
        std::memcpy(&r, rec, sizeof r);
        slots[r.timeslot].ivaConfigured = true;
        slots[r.timeslot].ivaLevel = r.det_lvl_dB;
        return 0;
      }
      case tc::SELCAL_DIAL: {
        tc::selcal_dial r;
        if (size != sizeof r) return refuse(EINVAL);
        if (int err = failureOf(code)) return refuse(err);
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
    if (int err = failureOf(code)) return refuse(err);
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
    " requests with their times | dtmf fail REQUEST ERRNO|ok | dtmf fail clear | dtmf raw HEX...: one record as"
    " given | dtmf reset (REQUEST: open configure enable disable dial lms-on lms-off reject-on reject-off iva-on"
    " iva-off iva-configure selcal)";

void command(Board& board, const Board::Args& a, Board::Reply& r) {
  DtmfModel::State& st = DtmfModel::state();
  std::uint32_t ts;
  if (a.size() >= 2 && words::to_u32(a[0], ts)) {
    tc::tonec_event ev{};
    ev.timeslot = ts;
    auto it = st.timeslots.find(ts);
    ev.id = it == st.timeslots.end() ? 0 : it->second.id;
    ev.timestamp = Mux::milliseconds();
    if (!words::to_u32(a[1], ev.code)) return r.fail("bad code '" + a[1] + "'");
    for (std::size_t i = 2; i < a.size(); i += 2) {
      std::uint32_t v;
      if (i + 1 >= a.size() || !words::to_u32(a[i + 1], v) || (a[i] != "id" && a[i] != "time"))
        return r.fail(std::string("usage: ") + kUsage);
      (a[i] == "id" ? ev.id : ev.timestamp) = v;
    }
    if (!DtmfModel::inject(board, ev)) return r.fail(std::string("no open ") + sysroot::dtmf);
    return;
  }
  if (a.size() <= 2 && !a.empty() && a[0] == "state") {
    if (a.size() == 2) {
      if (!words::to_u32(a[1], ts)) return r.fail("bad timeslot '" + a[1] + "'");
      auto it = st.timeslots.find(ts);
      r.line(describe(ts, it == st.timeslots.end() ? DtmfModel::Timeslot() : it->second));
      return;
    }
    for (const auto& t : st.timeslots) r.line(describe(t.first, t.second));
    return;
  }
  if (a.size() == 2 && a[0] == "tones") {
    if (!words::to_u32(a[1], ts)) return r.fail("bad timeslot '" + a[1] + "'");
    auto it = st.timeslots.find(ts);
    if (it == st.timeslots.end()) return;
    for (const DtmfModel::Tone& g : it->second.tones)
      r.line("at=" + std::to_string(g.at) + " freq1=" + std::to_string(g.freq1) + " freq2=" +
             std::to_string(g.freq2) + " amp1=" + std::to_string(g.amp1) + " amp2=" + std::to_string(g.amp2));
    return;
  }
  if (a.size() == 2 && a[0] == "fail" && a[1] == "clear") {
    st.failures.clear();
    return;
  }
  if (a.size() == 3 && a[0] == "fail") {
    unsigned long code;
    if (!requestCode(a[1], code)) return r.fail("unknown request '" + a[1] + "'");
    int err;
    if (a[2] == "ok")
      st.failures.erase(code);
    else if (words::to_errno(a[2], err))
      st.failures[code] = err;
    else
      return r.fail("bad errno '" + a[2] + "'");
    return;
  }
  if (a.size() >= 2 && a[0] == "raw") {
    std::vector<std::uint8_t> bytes;
    if (!words::to_bytes(a, 1, bytes)) return r.fail("bad bytes");
    bool sent = false;
    for (Device* d : board.devices(sysroot::dtmf)) sent = d->send(bytes.data(), bytes.size()) || sent;
    if (!sent) r.fail(std::string("no open ") + sysroot::dtmf);
    return;
  }
  if (a.size() == 1 && a[0] == "reset") {
    st.reset();
    return;
  }
  r.fail(std::string("usage: ") + kUsage);
}

}  // namespace

DtmfModel::State& DtmfModel::state() {
  static State s;
  return s;
}

std::unique_ptr<Device> DtmfModel::open(const std::string&, int) {
  if (int err = failureOf(0)) {
    errno = err;
    return nullptr;
  }
  return std::make_unique<DtmfDevice>();
}

bool DtmfModel::inject(Board& board, const Hardware::tonec::tonec_event& event) {
  bool sent = false;
  for (Device* d : board.devices(sysroot::dtmf)) sent = d->send(&event, sizeof event) || sent;
  return sent;
}

void DtmfModel::install(Board& board) {
  board.add_model(sysroot::dtmf, std::make_unique<DtmfModel>());
  board.add_command("dtmf", kUsage, [&board](const Board::Args& a, Board::Reply& r) { command(board, a, r); });
}

}  // namespace sim
