#include "platform/sim/cas_model.h"

#include <errno.h>

#include <cstring>

#include "platform/sim/model_commands.h"
#include "platform/sim/tdm.h"
#include "platform/sysroot.h"

namespace sim {

namespace {

bool validTrunk(std::uint32_t t) { return t < static_cast<std::uint32_t>(CasModel::trunks); }
// A timeslot that carries per-channel signalling.
bool signalling(std::uint32_t ts) { return ts > 0 && ts < static_cast<std::uint32_t>(CasModel::timeslots) && ts != 16; }

std::string where(const cas::cas_channel& c) { return std::to_string(c.trunk) + "/" + std::to_string(c.timeslot); }

class CasDevice : public Device {
 public:
  int ioctl_val(unsigned long code, unsigned long value) override {
    if (code != cas::open_trunk && code != cas::close_trunk) return Device::ioctl_val(code, value);
    if (value >= static_cast<unsigned long>(CasModel::trunks)) return refuse(EINVAL);
    CasModel::state().open[value] = code == cas::open_trunk;
    annotate(std::string(code == cas::open_trunk ? "open " : "close ") + std::to_string(value));
    return 0;
  }

  int ioctl_ptr(unsigned long code, void* rec, std::size_t size) override {
    switch (code) {
      case cas::set_bits:
      case cas::get_bits: {
        cas::cas_channel c;
        if (size != sizeof c) return refuse(EFAULT);
        std::memcpy(&c, rec, sizeof c);
        if (!usable(c)) return -1;
        CasModel::Channel& ch = CasModel::state().channels[{int(c.trunk), int(c.timeslot)}];
        if (code == cas::set_bits) {
          ch.tx = c.tx & 15;
          annotate("set " + where(c) + " tx " + std::to_string(ch.tx));
          CasModel::transmit(*board(), int(c.trunk), int(c.timeslot), ch.tx);
          return 0;
        }
        c.rx = ch.rx;
        c.tx = ch.tx;
        std::memcpy(rec, &c, sizeof c);
        annotate("get " + where(c) + " rx " + std::to_string(c.rx) + " tx " + std::to_string(c.tx));
        return 0;
      }
      case cas::channel_switch: {
        cas::cas_switch s;
        if (size != sizeof s) return refuse(EFAULT);
        std::memcpy(&s, rec, sizeof s);
        if (s.off > cas::switch_off) return refuse(EINVAL);
        if (!usable(s.channel)) return -1;
        CasModel::Channel& ch = CasModel::state().channels[{int(s.channel.trunk), int(s.channel.timeslot)}];
        ch.on = s.off == cas::switch_on;
        ch.tx = ch.on ? s.channel.tx & 15 : 0;
        annotate((ch.on ? "on " : "off ") + where(s.channel) + (ch.on ? " tx " + std::to_string(ch.tx) : ""));
        CasModel::transmit(*board(), int(s.channel.trunk), int(s.channel.timeslot), ch.tx);
        return 0;
      }
      default:
        return Device::ioctl_ptr(code, rec, size);
    }
  }

 private:
  // A channel of an open trunk that carries signalling; else errno is set.
  static bool usable(const cas::cas_channel& c) {
    errno = !validTrunk(c.trunk) || !signalling(c.timeslot) ? EINVAL : !CasModel::state().open[c.trunk] ? EBADFD : 0;
    return errno == 0;
  }
};

const char kUsage[] =
    "cas: the open trunks and every channel that is on or carries bits; cas T TS rx BITS: the channel's "
    "receive bits become BITS (0..15), as the far end would send them; cas raw HEX...: one record of those "
    "octets to every open (to try a short one)";

void command(Board& board, const Board::Args& a, Board::Reply& r) {
  CasModel::State& s = CasModel::state();
  if (a.empty()) {
    std::string open = "open:";
    for (int t = 0; t < CasModel::trunks; ++t)
      if (s.open[t]) open += " " + std::to_string(t);
    r.line(open);
    for (const auto& c : s.channels) {
      if (!c.second.on && !c.second.tx && !c.second.rx) continue;
      r.line(std::to_string(c.first.first) + "/" + std::to_string(c.first.second) + (c.second.on ? " on" : " off") +
             " rx " + std::to_string(c.second.rx) + " tx " + std::to_string(c.second.tx));
    }
    return;
  }
  if (a[0] == "raw") return raw_record(board, sysroot::e1_cas, a, r);
  std::uint32_t t = 0, ts = 0, bits = 0;
  if (a.size() != 4 || a[2] != "rx" || !words::to_u32(a[0], t) || !validTrunk(t) || !words::to_u32(a[1], ts) ||
      !signalling(ts) || !words::to_u32(a[3], bits) || bits > 15)
    return r.fail("usage: cas | cas T TS rx BITS (T 0..3, TS 1..31 but 16, BITS 0..15) | cas raw HEX...");
  CasModel::receive(board, int(t), int(ts), static_cast<std::uint8_t>(bits));
}

}  // namespace

CasModel::State& CasModel::state() {
  static State s;
  return s;
}

void CasModel::receive(Board& board, int trunk, int timeslot, std::uint8_t bits) {
  State& s = state();
  Channel& ch = s.channels[{trunk, timeslot}];
  if (ch.rx == bits) return;
  ch.rx = bits;
  if (!s.open[trunk] || !ch.on) return;
  cas::cas_channel rec{};
  rec.trunk = static_cast<std::uint32_t>(trunk);
  rec.timeslot = static_cast<std::uint32_t>(timeslot);
  rec.rx = ch.rx;
  rec.tx = ch.tx;
  board.broadcast(sysroot::e1_cas, &rec, sizeof rec);
}

void CasModel::transmit(Board& board, int trunk, int timeslot, std::uint8_t bits) {
  const int far = Tdm::instance().far_end(trunk);
  if (far >= 0) receive(board, far, timeslot, bits);
}

void CasModel::install(Board& board) {
  board.add_model(sysroot::e1_cas, std::make_unique<ModelOf<CasDevice>>());
  board.add_command("cas", kUsage, [&board](const Board::Args& a, Board::Reply& r) { command(board, a, r); });
}

}  // namespace sim
