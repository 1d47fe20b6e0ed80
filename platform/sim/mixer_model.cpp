#include "platform/sim/mixer_model.h"

#include <errno.h>

#include <cstring>

#include "platform/mixer_records.h"
#include "platform/sim/command_words.h"
#include "platform/sysroot.h"

namespace sim {

namespace {

std::string channelText(const mix_slot& s) { return std::to_string(s.dev_no) + "/" + std::to_string(s.number); }

// The device of a channel, or null with errno set.
MixerModel::Unit* unitOf(const mix_slot& s) {
  auto& units = MixerModel::state().units;
  auto it = units.find(s.dev_no);
  if (it == units.end()) {
    errno = ENODEV;
    return nullptr;
  }
  if (s.type != mix_slot_tdm || s.number < 0 || s.number >= it->second.tdm) {
    errno = EINVAL;
    return nullptr;
  }
  return &it->second;
}

template <class Record>
bool take(Record& r, const void* rec, std::size_t size) {
  if (size != sizeof r) return false;
  std::memcpy(&r, rec, sizeof r);
  return true;
}

class MixerDevice : public Device {
 public:
  int ioctl_ptr(unsigned long code, void* rec, std::size_t size) override {
    switch (code) {
      case MIX_NEXT_DEVICE:
        return next(rec, size);
      case MIX_TDM: {
        mix_slot s;
        if (!take(s, rec, size)) return refuse(EFAULT);
        const MixerModel::Unit* u = unitOf(s);
        if (!u) return -1;
        const int timeslot = u->first + s.number;
        annotate(channelText(s) + " = " + std::to_string(timeslot));
        return timeslot;
      }
      case MIX_RX_CLEAR: {
        mix_slot s;
        if (!take(s, rec, size)) return refuse(EFAULT);
        MixerModel::Unit* u = unitOf(s);
        if (!u) return -1;
        u->sums.erase(s.number);
        annotate("clear " + channelText(s));
        return 0;
      }
      case MIX_RX_ADD:
      case MIX_RX_REMOVE:
        return sum(code == MIX_RX_ADD, rec, size);
      default:
        return Device::ioctl_ptr(code, rec, size);
    }
  }

 private:
  int next(void* rec, std::size_t size) {
    MixDevice d;
    if (!take(d, rec, size)) return refuse(EFAULT);
    const auto& units = MixerModel::state().units;
    auto it = units.upper_bound(d.dev_no);
    if (it == units.end()) return refuse(ENODEV);
    d = MixDevice{it->first, it->second.tdm, 0, it->second.inputs};
    std::memcpy(rec, &d, sizeof d);
    annotate("device " + std::to_string(d.dev_no) + " tdm " + std::to_string(d.tdm_channels) + " inputs " +
             std::to_string(d.mixer_inputs));
    return 0;
  }

  int sum(bool add, void* rec, std::size_t size) {
    MixRx r;
    if (!take(r, rec, size)) return refuse(EFAULT);
    MixerModel::Unit* u = unitOf(r.rx);
    if (!u || !unitOf(r.tx)) return -1;
    if (r.rx.dev_no != r.tx.dev_no) return refuse(EINVAL);
    auto& inputs = u->sums[r.rx.number];
    const bool summed = inputs.count(r.tx.number) != 0;
    int rc = 0;
    if (!add) {
      inputs.erase(r.tx.number);
      annotate("remove " + channelText(r.rx) + " <- " + std::to_string(r.tx.number) + (summed ? "" : ": not summed"));
    } else if (r.weight < 0 || r.weight > MixerModel::max_weight) {
      rc = refuse(EINVAL);
    } else if (!summed && u->summed() >= static_cast<std::size_t>(u->inputs)) {
      rc = refuse(ENOSPC);
    } else {
      inputs[r.tx.number] = r.weight;
      annotate("add " + channelText(r.rx) + " <- " + std::to_string(r.tx.number) + " x" + std::to_string(r.weight));
    }
    if (inputs.empty()) u->sums.erase(r.rx.number);
    return rc;
  }
};

const char kUsage[] =
    "mixer: each device (channels, room for summed inputs, timeslots, inputs summed); mixer sum D C: what "
    "channel C of device D adds up, {channel: weight, ...}; mixer add D TDM INPUTS: a new device D with TDM "
    "channels and room for INPUTS summed inputs; mixer vanish D: device D disappears, with its sums";

std::string describeUnit(std::int32_t dev, const MixerModel::Unit& u) {
  return "mixer " + std::to_string(dev) + " tdm " + std::to_string(u.tdm) + " inputs " + std::to_string(u.inputs) +
         " timeslots " + std::to_string(u.first) + ".." + std::to_string(u.first + u.tdm - 1) + " summed " +
         std::to_string(u.summed());
}

void command(const Board::Args& a, Board::Reply& r) {
  MixerModel::State& st = MixerModel::state();
  std::int32_t dev = 0, n = 0, m = 0;
  if (a.empty()) {
    for (const auto& u : st.units) r.line(describeUnit(u.first, u.second));
    return;
  }
  if (a[0] == "sum" && a.size() == 3 && words::to_i32(a[1], dev) && words::to_i32(a[2], n)) {
    auto it = st.units.find(dev);
    if (it == st.units.end()) return r.fail("no mixer device " + a[1]);
    if (n < 0 || n >= it->second.tdm) return r.fail("no channel " + a[2] + " on mixer device " + a[1]);
    return r.line(a[1] + "/" + a[2] + ": " + MixerModel::describe_sum(it->second, n));
  }
  if (a[0] == "add" && a.size() == 4 && words::to_i32(a[1], dev) && words::to_i32(a[2], n) &&
      words::to_i32(a[3], m)) {
    std::string why;
    if (!st.add(dev, n, m, why)) r.fail(why);
    return;
  }
  if (a[0] == "vanish" && a.size() == 2 && words::to_i32(a[1], dev)) {
    if (!st.units.erase(dev)) r.fail("no mixer device " + a[1]);
    return;
  }
  r.fail(std::string("usage: ") + kUsage);
}

}  // namespace

std::size_t MixerModel::Unit::summed() const {
  std::size_t n = 0;
  for (const auto& s : sums) n += s.second.size();
  return n;
}

MixerModel::State::State() {
  std::string why;
  add(0, 32, 64, why);
}

bool MixerModel::State::add(std::int32_t dev, std::int32_t tdm, std::int32_t inputs, std::string& why) {
  if (dev < 0) why = "a device number is 0 or more";
  else if (units.count(dev)) why = "mixer device " + std::to_string(dev) + " is there already";
  else if (tdm < 1 || inputs < 0) why = "a device has 1 channel or more and room for 0 inputs or more";
  if (!why.empty()) return false;
  Unit u;
  u.tdm = tdm;
  u.inputs = inputs;
  auto before = placed.find(dev);
  if (before != placed.end() && before->second.second >= tdm) {
    u.first = before->second.first;
  } else if (tdm > last_timeslot + 1 - nextTimeslot) {
    why = "no " + std::to_string(tdm) + " timeslots left for the mixer channels";
    return false;
  } else {
    u.first = nextTimeslot;
    nextTimeslot += tdm;
    placed[dev] = {u.first, tdm};
  }
  units[dev] = u;
  return true;
}

MixerModel::State& MixerModel::state() {
  static State s;
  return s;
}

std::string MixerModel::describe_sum(const Unit& unit, std::int32_t summator) {
  std::string text = "{";
  auto it = unit.sums.find(summator);
  if (it != unit.sums.end())
    for (const auto& in : it->second)
      text += (text.size() > 1 ? ", " : "") + std::to_string(in.first) + ": " + std::to_string(in.second);
  return text + "}";
}

void MixerModel::install(Board& board) {
  board.add_model(sysroot::mixer, std::make_unique<ModelOf<MixerDevice>>());
  board.add_command("mixer", kUsage, command);
}

}  // namespace sim
