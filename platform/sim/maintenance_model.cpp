#include "platform/sim/maintenance_model.h"

#include <errno.h>
#include <sys/stat.h>

#include <cstring>
#include <fstream>
#include <iterator>

#include "platform/sim/command_words.h"
#include "platform/sysroot.h"

namespace sim {

namespace {

// The record fields a test may set, by their command words.
struct Field {
  const char* name;
  std::int32_t maint::SyncStatus::*member;
};
const Field kFields[] = {
    {"state", &maint::SyncStatus::state},     {"slips", &maint::SyncStatus::slips},
    {"lossbf", &maint::SyncStatus::lossBF},   {"losscarrier", &maint::SyncStatus::lossCarrier},
    {"ais", &maint::SyncStatus::ais},         {"rai", &maint::SyncStatus::rai},
};

// The framer status file of a trunk, as the board's framer driver shows the
// same framer that the sync-status record reports: rewritten from the
// record each time it is set, so that the two never disagree (a daemon that
// reads both would otherwise see the trunk change at every check). Only a
// trunk whose file exists has a framer on this board.
void writeFramerFile(int t, const maint::SyncStatus& status) {
  const std::string path = sysroot::path(std::string(sysroot::framer_dir) + std::to_string(t));
  struct stat64 st;
  if (::lstat64(path.c_str(), &st) != 0 || !S_ISREG(st.st_mode)) return;
  // By ACP::TrunkState: normal, lossBF, lossCarrier, ais, rai.
  static const char* const kStates[] = {"Synchronized", "FAS Loss", "No Carrier", "AIS", "RAI"};
  const bool known = status.state >= 0 && status.state < static_cast<std::int32_t>(std::size(kStates));
  const bool carrierLost = status.state == 2;
  std::ofstream out(path, std::ios::trunc);
  out << "Current state           : " << (known ? kStates[status.state] : "Unknown") << "\n"
      << "Loss of Signal          : " << (carrierLost ? "yes" : "no") << "\n"
      << "Loss of Frame Alignment : " << (carrierLost || status.state == 1 ? "yes" : "no") << "\n"
      << "Receive Slip Negative   : " << status.slips << " events\n"
      << "Receive Slip Positive   : 0 events\n";
}

std::string describe(int t, const MaintenanceModel::Trunk& trunk) {
  std::string line = "trunk " + std::to_string(t);
  for (const Field& f : kFields) line += std::string(" ") + f.name + " " + std::to_string(trunk.status.*(f.member));
  if (trunk.fail) line += " fail " + words::errno_name(trunk.fail);
  return line;
}

class MaintenanceDevice : public Device {
 public:
  int ioctl_ptr(unsigned long code, void* rec, std::size_t size) override {
    if (code != maint::sync_status) return Device::ioctl_ptr(code, rec, size);
    maint::SyncStatus r;
    if (size != sizeof r) return refuse(EFAULT);
    std::memcpy(&r, rec, sizeof r);
    if (r.trunk < 0 || r.trunk >= maint::trunks) return refuse(EINVAL);
    const MaintenanceModel::Trunk& t = MaintenanceModel::state().trunks[r.trunk];
    if (t.fail) return refuse(t.fail);
    const std::int32_t trunk = r.trunk;
    r = t.status;
    r.trunk = trunk;
    std::memcpy(rec, &r, sizeof r);
    annotate("trunk " + std::to_string(trunk) + " state " + std::to_string(r.state) + " slips " +
             std::to_string(r.slips));
    return 0;
  }
  int ioctl_val(unsigned long code, unsigned long value) override {
    MaintenanceModel::State& s = MaintenanceModel::state();
    if (code == maint::set_tclk) {
      s.tclkSet = true;
      s.tclk = static_cast<std::uint32_t>(value);
      annotate("tclk " + words::hex(s.tclk));
      return 0;
    }
    if (code == maint::select_clock) {
      s.clockSource = static_cast<long>(value);
      annotate("clock source " + std::to_string(s.clockSource));
      return 0;
    }
    return Device::ioctl_val(code, value);
  }
};

const char kTrunkUsage[] =
    "trunk [T]: each trunk's synchronisation record; trunk T FIELD VALUE...: set fields of it (state, slips, "
    "lossbf, losscarrier, ais, rai); trunk T fail ERRNO | trunk T fail off: refuse its status requests";

void trunkCommand(const Board::Args& a, Board::Reply& r) {
  auto& trunks = MaintenanceModel::state().trunks;
  if (a.empty()) {
    for (int t = 0; t < maint::trunks; ++t) r.line(describe(t, trunks[t]));
    return;
  }
  std::uint32_t t = 0;
  if (!words::to_u32(a[0], t) || t >= static_cast<std::uint32_t>(maint::trunks))
    return r.fail("usage: trunk [T] | trunk T FIELD VALUE... | trunk T fail ERRNO|off (T 0..3)");
  MaintenanceModel::Trunk& trunk = trunks[t];
  if (a.size() == 1) return r.line(describe(static_cast<int>(t), trunk));
  if (a.size() == 3 && a[1] == "fail") {
    if (a[2] == "off") {
      trunk.fail = 0;
      return;
    }
    if (!words::to_errno(a[2], trunk.fail)) return r.fail("unknown errno '" + a[2] + "'");
    return;
  }
  if (a.size() % 2 == 0) return r.fail("usage: trunk T FIELD VALUE... (state, slips, lossbf, losscarrier, ais, rai)");
  maint::SyncStatus changed = trunk.status;
  for (std::size_t i = 1; i < a.size(); i += 2) {
    const Field* field = nullptr;
    for (const Field& f : kFields)
      if (a[i] == f.name) field = &f;
    std::int32_t v;
    if (!field) return r.fail("unknown field '" + a[i] + "' (state, slips, lossbf, losscarrier, ais, rai)");
    if (!words::to_i32(a[i + 1], v)) return r.fail("VALUE is a number");
    changed.*(field->member) = v;
  }
  trunk.status = changed;
  writeFramerFile(static_cast<int>(t), trunk.status);
}

}  // namespace

MaintenanceModel::State& MaintenanceModel::state() {
  static State s;
  return s;
}

void MaintenanceModel::install(Board& board) {
  board.add_model(sysroot::maintenance, std::make_unique<ModelOf<MaintenanceDevice>>());
  board.add_command("trunk", kTrunkUsage, trunkCommand);
  for (int t = 0; t < maint::trunks; ++t) writeFramerFile(t, state().trunks[t].status);
  board.add_command("tclk", "tclk: the transmit-clock mask last set (none before the first), and the clock source",
                    [](const Board::Args& a, Board::Reply& r) {
                      if (!a.empty()) return r.fail("usage: tclk");
                      const State& s = state();
                      r.line(s.tclkSet ? "tclk " + words::hex(s.tclk) : std::string("tclk none"));
                      r.line(s.clockSource < 0 ? std::string("clock source none")
                                               : "clock source " + std::to_string(s.clockSource));
                    });
}

}  // namespace sim
