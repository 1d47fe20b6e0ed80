#include "platform/sim/mctl_model.h"

#include <errno.h>

#include <cstring>
#include <memory>

#include "platform/modem_records.h"
#include "platform/sim/board.h"
#include "platform/sim/command_words.h"
#include "platform/sim/device.h"
#include "platform/sysroot.h"

namespace sim {

namespace {

class MctlDevice : public Device {
 public:
  MctlDevice() : id_(++opens_) {}

  int ioctl_val(unsigned long code, unsigned long value) override {
    auto& modems = MctlModel::state().modems;
    switch (code) {
      case mctl::allocate: {
        if (modem_ >= 0) return refuse(EBUSY);
        for (std::size_t n = 0; n < modems.size(); ++n) {
          if (modems[n].owner) continue;
          modems[n] = MctlModel::Modem();
          modems[n].owner = id_;
          modem_ = static_cast<int>(n);
          annotate("modem " + std::to_string(n));
          return modem_;
        }
        return refuse(ENOSPC);
      }
      case mctl::enumerate: {
        // The previous number is a word of the board's: -1 arrives as its
        // 32-bit pattern whatever the width of long.
        const std::int32_t previous = static_cast<std::int32_t>(static_cast<std::uint32_t>(value));
        if (previous < -1) return refuse(EINVAL);
        const std::int64_t next = std::int64_t(previous) + 1;
        if (next >= static_cast<std::int64_t>(modems.size())) return refuse(ENODEV);
        return static_cast<int>(next);
      }
      case mctl::timeslot:
        if (modem_ < 0) return refuse(EINVAL);
        return MctlModel::timeslot_of(modem_);
      default:
        return Device::ioctl_val(code, value);
    }
  }

  int ioctl_ptr(unsigned long code, void* rec, std::size_t size) override {
    if (code == mctl::set_dmp) {
      mctl::DmpParam p;
      if (size != sizeof p) return refuse(EFAULT);
      std::memcpy(&p, rec, sizeof p);
      MctlModel::Modem* m = own(p.modem);
      if (!m) return refuse(EINVAL);
      m->dmp[p.offset] = p.value;
      annotate("modem " + std::to_string(p.modem) + " dmp " + std::to_string(p.offset) + "=" + std::to_string(p.value));
      return 0;
    }
    const char* call = nullptr;
    switch (code) {
      case mctl::answer:
        call = "answer";
        break;
      case mctl::originate:
        call = "originate";
        break;
      case mctl::fax_originate:
        call = "fax-originate";
        break;
      case mctl::set_ddm:
      case mctl::reset_dmp:
        break;
      default:
        return Device::ioctl_ptr(code, rec, size);
    }
    mctl::ModemRequest r;
    if (size != sizeof r) return refuse(EFAULT);
    std::memcpy(&r, rec, sizeof r);
    MctlModel::Modem* m = own(r.modem);
    if (!m) return refuse(EINVAL);
    const std::string modem = "modem " + std::to_string(r.modem);
    if (call) {
      m->call = call;
      annotate(modem + " " + call);
    } else if (code == mctl::set_ddm) {
      m->ddm = r.arg;
      annotate(modem + " ddm " + words::hex(static_cast<std::uint32_t>(r.arg)));
    } else {
      m->dmp.clear();
      annotate(modem + " dmp reset");
    }
    return 0;
  }

  void on_close() override {
    MctlModel::Modem* m = own(modem_);
    if (m) *m = MctlModel::Modem();
    modem_ = -1;
  }

 private:
  // The descriptor's own modem by its number; null for any other.
  MctlModel::Modem* own(std::int32_t modem) const {
    auto& modems = MctlModel::state().modems;
    if (modem < 0 || modem != modem_ || static_cast<std::size_t>(modem) >= modems.size()) return nullptr;
    return modems[static_cast<std::size_t>(modem)].owner == id_ ? &modems[static_cast<std::size_t>(modem)] : nullptr;
  }

  static std::uint64_t opens_;
  const std::uint64_t id_;
  int modem_ = -1;
};

std::uint64_t MctlDevice::opens_ = 0;

std::string describe(std::size_t n, const MctlModel::Modem& m) {
  std::string line = "modem " + std::to_string(n) + " ts " + std::to_string(MctlModel::timeslot_of(static_cast<int>(n)));
  if (!m.owner) return line + " free";
  line += " allocated ddm " + words::hex(static_cast<std::uint32_t>(m.ddm)) + " dmp";
  if (m.dmp.empty()) line += " none";
  for (const auto& p : m.dmp) line += " " + std::to_string(p.first) + "=" + std::to_string(p.second);
  return line + " call " + m.call;
}

void mctlCommand(const Board::Args& a, Board::Reply& r) {
  auto& modems = MctlModel::state().modems;
  if (a.empty()) {
    for (std::size_t n = 0; n < modems.size(); ++n) r.line(describe(n, modems[n]));
    return;
  }
  std::uint32_t count = 0;
  if (a.size() != 2 || a[0] != "modems" || !words::to_u32(a[1], count) || count > 256)
    return r.fail("usage: mctl | mctl modems N (0..256)");
  for (std::size_t n = count; n < modems.size(); ++n)
    if (modems[n].owner) return r.fail("modem " + std::to_string(n) + " is allocated");
  modems.resize(count);
}

}  // namespace

MctlModel::State& MctlModel::state() {
  static State s;
  return s;
}

void MctlModel::install(Board& board) {
  board.add_model(sysroot::mctl, std::make_unique<ModelOf<MctlDevice>>());
  board.add_command("mctl",
                    "mctl: each modem with its TDM channel, whether allocated, its data modes and parameters and its "
                    "call; mctl modems N: the pool has N modems (none at start; an allocated one cannot go)",
                    mctlCommand);
}

}  // namespace sim
