#include "platform/sim/dsp_model.h"

#include <errno.h>

#include <cstring>

#include "platform/sim/model_commands.h"
#include "platform/sysroot.h"

namespace sim {

namespace dp = Hardware::dsproc;

namespace {

class DspDevice : public Device {
 public:
  int ioctl_ptr(unsigned long code, void* rec, std::size_t size) override {
    auto& slots = DspModel::state().timeslots;
    switch (code) {
      case dp::DSPROC_CONFIGURE: {
        dp::dsproc_configure r;
        if (size != sizeof r) return refuse(EINVAL);
        std::memcpy(&r, rec, sizeof r);
        DspModel::Timeslot& t = slots[r.timeslot];
        switch (r.kind) {
          case dp::KIND_VAD:
            t.vadConfigured = true;
            t.vad = r;
            return 0;
          case dp::KIND_SD:
            t.sdConfigured = true;
            return 0;
          case dp::KIND_DELAYS:
            t.delaysConfigured = true;
            t.delays = r.params.delays;
            return 0;
          case dp::KIND_RX_GAIN:
            t.gainConfigured = true;
            t.gain_dB = r.params.rx_gain.gain_dB;
            return 0;
          case dp::KIND_TONE_FILTER: {
            const dp::tone_filter_params& f = r.params.tone_filter;
            t.filters[f.freq] = DspModel::ToneFilter{f.enable, f.dur_th_msec, f.det_lvl_dB};
            return 0;
          }
          default:
            return refuse(EINVAL);
        }
      }
      case dp::DSPROC_ENABLE:
      case dp::DSPROC_DISABLE: {
        dp::dsproc_feature r;
        if (size != sizeof r) return refuse(EINVAL);
        std::memcpy(&r, rec, sizeof r);
        DspModel::Timeslot& t = slots[r.timeslot];
        if (code == dp::DSPROC_ENABLE) {
          t.enabled |= r.mask;
          for (std::uint32_t bit = 1; bit; bit <<= 1)
            if (r.mask & bit) t.ids[bit] = r.id;
        } else {
          t.enabled &= ~r.mask;
          if (r.mask & dp::FEATURE_TONE_ALL)
            for (auto& f : t.filters) f.second.enable = 0;
        }
        return 0;
      }
      case dp::DSPROC_VAD_VERSION:
        return refuse(EINVAL);  // takes the value 0
      default:
        return Device::ioctl_ptr(code, rec, size);
    }
  }

  int ioctl_val(unsigned long code, unsigned long value) override {
    switch (code) {
      case dp::DSPROC_VAD_VERSION:
        if (value != 0) return refuse(EINVAL);
        return DspModel::state().vadVersion;
      case dp::DSPROC_CONFIGURE:
      case dp::DSPROC_ENABLE:
      case dp::DSPROC_DISABLE:
        return refuse(EFAULT);  // these take a record
      default:
        return Device::ioctl_val(code, value);
    }
  }
};

std::string describe(std::uint32_t ts, const DspModel::Timeslot& t) {
  std::string s = "ts=" + std::to_string(ts) + " enabled=" + words::hex(t.enabled);
  for (const auto& id : t.ids) s += " id." + words::hex(id.first) + "=" + std::to_string(id.second);
  if (t.vadConfigured) {
    if (DspModel::state().vadVersion == dp::VAD_VERSION_2)
      s += " vad=" + std::to_string(t.vad.params.vad_v2.voice_th_msec) + "," +
           std::to_string(t.vad.params.vad_v2.silence_th_msec) + "," + std::to_string(t.vad.params.vad_v2.e_th_dB);
    else
      s += " vad=" + std::to_string(t.vad.params.vad_fixed.word1) + "," + std::to_string(t.vad.params.vad_fixed.word2);
  }
  if (t.sdConfigured) s += " sd=configured";
  if (t.delaysConfigured)
    s += " delays=" + std::to_string(t.delays.rx) + "," + std::to_string(t.delays.tx) + "," +
         std::to_string(t.delays.selcal);
  if (t.gainConfigured) s += " gain=" + std::to_string(t.gain_dB);
  for (const auto& f : t.filters)
    s += " filter=" + std::to_string(f.first) + ":" + std::to_string(f.second.enable) + ":" +
         std::to_string(f.second.dur_th_msec) + ":" + std::to_string(f.second.det_lvl_dB);
  return s;
}

const char kUsage[] =
    "dsp TS vad DIR_MASK RX TX | dsp TS sd VALUE | dsp TS bss SCORE | dsp TS flags FLAGS MASK | dsp TS tone FREQ"
    " PRESENCE: an event on timeslot TS, each optionally followed by 'id ID' (else the id of the feature's latest"
    " enabling; 0 for flags and tone) | dsp state [TS] | dsp version N: the VAD parameter version | dsp raw"
    " HEX...: one record as given | dsp reset";

// Reads an event command (the words after the timeslot); false when they do
// not make one.
bool eventOf(const Board::Args& a, dp::dsproc_event& ev, const DspModel::Timeslot& t) {
  const std::string& kind = a[1];
  std::size_t values = 0;
  std::uint32_t bit = 0;
  if (kind == "vad") {
    ev.type = dp::EVENT_VAD;
    values = 3;
    bit = dp::FEATURE_VAD;
  } else if (kind == "sd") {
    ev.type = dp::EVENT_SD;
    values = 1;
    bit = dp::FEATURE_SD;
  } else if (kind == "bss") {
    ev.type = dp::EVENT_BSS;
    values = 1;
    bit = dp::FEATURE_BSS;
  } else if (kind == "flags") {
    ev.type = dp::EVENT_FLAGS;
    values = 2;
  } else if (kind == "tone") {
    ev.type = dp::EVENT_TONE;
    values = 2;
  } else {
    return false;
  }
  if (a.size() != 2 + values && a.size() != 4 + values) return false;
  ev.id = bit ? t.id(bit) : 0;
  if (a.size() == 4 + values && (a[2 + values] != "id" || !words::to_u32(a[3 + values], ev.id))) return false;
  switch (ev.type) {
    case dp::EVENT_VAD:
      return words::to_u32(a[2], ev.payload.vad.dir_mask) && words::to_i32(a[3], ev.payload.vad.rx) &&
             words::to_i32(a[4], ev.payload.vad.tx);
    case dp::EVENT_SD:
      return words::to_i32(a[2], ev.payload.sd.value);
    case dp::EVENT_BSS:
      return words::to_float(a[2], ev.payload.bss.score);
    case dp::EVENT_FLAGS:
      return words::to_u32(a[2], ev.payload.flags.flags) && words::to_u32(a[3], ev.payload.flags.mask);
    default:
      return words::to_u32(a[2], ev.payload.tone.frequency) && words::to_u32(a[3], ev.payload.tone.presence);
  }
}

void command(Board& board, const Board::Args& a, Board::Reply& r) {
  DspModel::State& st = DspModel::state();
  std::uint32_t ts;
  if (a.size() >= 2 && words::to_u32(a[0], ts)) {
    dp::dsproc_event ev{};
    ev.timeslot = ts;
    auto it = st.timeslots.find(ts);
    if (!eventOf(a, ev, it == st.timeslots.end() ? DspModel::Timeslot() : it->second))
      return r.fail(std::string("usage: ") + kUsage);
    if (!board.broadcast(sysroot::dsp, &ev, sizeof ev)) r.fail(std::string("no open ") + sysroot::dsp);
    return;
  }
  if (!a.empty() && a[0] == "state" && a.size() <= 2) return timeslot_state(st.timeslots, a, describe, r);
  if (a.size() == 2 && a[0] == "version") {
    std::int32_t v;
    if (!words::to_i32(a[1], v) || v < 0) return r.fail("bad version '" + a[1] + "'");
    st.vadVersion = v;
    return;
  }
  if (a.size() >= 2 && a[0] == "raw") return raw_record(board, sysroot::dsp, a, r);
  if (a.size() == 1 && a[0] == "reset") return st.reset();
  r.fail(std::string("usage: ") + kUsage);
}

}  // namespace

DspModel::State& DspModel::state() {
  static State s;
  return s;
}

void DspModel::install(Board& board) {
  board.add_model(sysroot::dsp, std::make_unique<ModelOf<DspDevice>>());
  board.add_command("dsp", kUsage, [&board](const Board::Args& a, Board::Reply& r) { command(board, a, r); });
}

}  // namespace sim
