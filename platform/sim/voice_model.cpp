#include "platform/sim/voice_model.h"

#include <errno.h>

#include <cstring>
#include <string>

#include "platform/sim/command_words.h"
#include "platform/sysroot.h"

namespace sim {

namespace {

std::string versionText(const voicedrv::Version& v) {
  std::string text = "version";
  for (std::uint32_t w : v.words) text += " " + std::to_string(w);
  return text;
}

class VoiceDevice : public Device {
 public:
  int ioctl_ptr(unsigned long code, void* rec, std::size_t size) override {
    VoiceModel::State& s = VoiceModel::state();
    if (code == voicedrv::channel_count) {
      std::uint32_t kind;
      if (size != sizeof kind) return refuse(EFAULT);
      std::memcpy(&kind, rec, sizeof kind);
      const VoiceModel::Kind k = s.kinds.count(kind) ? s.kinds[kind] : VoiceModel::Kind();
      if (k.fail) return refuse(k.fail);
      annotate("kind " + std::to_string(kind) + " count " + std::to_string(k.count));
      return k.count;
    }
    if (code == voicedrv::get_version) {
      if (size != sizeof s.version) return refuse(EFAULT);
      std::memcpy(rec, &s.version, sizeof s.version);
      annotate(versionText(s.version));
      return 0;
    }
    return Device::ioctl_ptr(code, rec, size);
  }
};

const char kUsage[] =
    "voice: the count of each kind set and the version record; voice count KIND N: the DSP channels the driver "
    "answers for codec KIND (4 G.729, 2 G.723, 1 G.711, 8 G.711 on MCC, 65 universal; 0 until set); voice count "
    "KIND fail ERRNO|off: refuse that kind's count requests; voice version W0 W1 W2 W3 W4: the five words of the "
    "version record (0 until set); voice reset: all of it as at power-on";

void command(const Board::Args& a, Board::Reply& r) {
  VoiceModel::State& s = VoiceModel::state();
  if (a.empty()) {
    for (const auto& [kind, k] : s.kinds) {
      std::string line = "count " + std::to_string(kind) + " " + std::to_string(k.count);
      if (k.fail) line += " fail " + words::errno_name(k.fail);
      r.line(line);
    }
    return r.line(versionText(s.version));
  }
  if (a[0] == "reset" && a.size() == 1) return s.reset();
  if (a[0] == "count" && a.size() == 3) {
    std::uint32_t kind;
    std::int32_t n;
    if (!words::to_u32(a[1], kind)) return r.fail("bad kind '" + a[1] + "'");
    if (!words::to_i32(a[2], n) || n < 0) return r.fail("N is a count, 0 or more");
    s.kinds[kind].count = n;
    return;
  }
  if (a[0] == "count" && a.size() == 4 && a[2] == "fail") {
    std::uint32_t kind;
    int err = 0;
    if (!words::to_u32(a[1], kind)) return r.fail("bad kind '" + a[1] + "'");
    if (a[3] != "off" && !words::to_errno(a[3], err)) return r.fail("unknown errno '" + a[3] + "'");
    s.kinds[kind].fail = err;
    return;
  }
  if (a[0] == "version" && a.size() == 6) {
    voicedrv::Version v{};
    for (std::size_t i = 0; i < 5; ++i)
      if (!words::to_u32(a[i + 1], v.words[i])) return r.fail("bad word '" + a[i + 1] + "'");
    s.version = v;
    return;
  }
  r.fail(std::string("usage: ") + kUsage);
}

}  // namespace

VoiceModel::State& VoiceModel::state() {
  static State s;
  return s;
}

void VoiceModel::install(Board& board) {
  board.add_model(sysroot::voice, std::make_unique<ModelOf<VoiceDevice>>());
  board.add_command("voice", kUsage, command);
}

}  // namespace sim
