#include "slots/mixer_factory.h"

#include <fcntl.h>
#include <string.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <iostream>
#include <string>

#include "hardware/device_names.h"
#include "platform/drv.h"

#include "slots/mixer.h"
#include "slots/mixer_slot.h"

namespace Mixer {

namespace {

// Processing units a device spends on a summator, an echo canceller and an
// adaptive filter: what the controller plans conferences with.
constexpr int dpu_per_mixer = 770;
constexpr int dpu_per_ec = 17;
constexpr int dpu_per_lms = 24;

void lower(int& bound, int value) {
  if (bound < 0 || value < bound) bound = value;
}

}  // namespace

MixerFactory& MixerFactory::instance() {
  static MixerFactory factory;
  return factory;
}

MixerFactory::~MixerFactory() {
  for (Mixer* m : mixers_) delete m;
}

Mixer* MixerFactory::findMixer(int unit) const {
  for (Mixer* m : mixers_)
    if (m->dev_no() == unit && !m->vanished()) return m;
  return nullptr;
}

Slot* MixerFactory::INewSlot(const LGCP::CreateParams& params) {
  switch (params.getSelection()) {
    case LGCP::CreateParams::e_mixerOut: {
      const LGCP::MixerOutParams& p = params.get_mixerOut();
      Mixer* m = findMixer(p.get_unit().getValue());
      return m ? m->New(p) : nullptr;
    }
    case LGCP::CreateParams::e_mixerIn: {
      const LGCP::MixerInParams& p = params.get_mixerIn();
      Mixer* m = findMixer(p.get_unit().getValue());
      return m ? m->New(p) : nullptr;
    }
    default:
      return nullptr;
  }
}

void MixerFactory::RefreshResources() {
  for (Mixer* m : mixers_) m->set_vanished(true);
  mixerInputBound_ = tdmChannelBound_ = -1;
  MixDevice rec{-1, 0, 0, 0};
  // The limit counts the devices this enumeration found: the devices known
  // from the last one may all be about to be found again.
  for (unsigned found = 0; found < max_devices; ++found) {
    if (mixer_ctl(MIX_NEXT_DEVICE, rec) < 0) break;
    lower(mixerInputBound_, rec.mixer_inputs);
    lower(tdmChannelBound_, rec.tdm_channels);
    auto known = std::find_if(mixers_.begin(), mixers_.end(), [&rec](Mixer* m) { return m->dev_no() == rec.dev_no; });
    if (known != mixers_.end()) {
      (*known)->set_vanished(false);
      continue;
    }
    Mixer* m = new Mixer(*this, rec.dev_no);
    mixers_.push_back(m);
    m->Reset();
  }
  std::vector<Mixer*> gone;
  for (Mixer* m : mixers_)
    if (m->vanished()) gone.push_back(m);
  mixers_.erase(std::remove_if(mixers_.begin(), mixers_.end(), [](Mixer* m) { return m->vanished(); }),
                mixers_.end());
  // Each may delete itself here.
  for (Mixer* m : gone) m->Clear();
  ReadVoiceVersion();
}

void MixerFactory::ReadVoiceVersion() {
  const int fd = drv::open(GetVoiceDevName(), O_RDONLY | O_CLOEXEC);
  if (fd < 0) {
    std::cerr << std::string("mixer: device \"") + GetVoiceDevName() + "\" open fail: " + ::strerror(errno) + "\n"
              << std::flush;
    return;
  }
  voicedrv::Version v{};
  versionValid_ = drv::ioctl_ptr(fd, voicedrv::get_version, &v, sizeof v) >= 0;
  if (versionValid_) version_ = v;
  ::close(fd);
}

void MixerFactory::Query(LGCP::Resources& resources) {
  RefreshResources();
  auto& list = resources.get_mixer();
  list.clear();
  for (const Mixer* m : mixers_) {
    LGCP::MixerResources_subtype& r = list.push_back();
    r.set_unit(m->dev_no());
    r.set_tdm_inputs(std::max(tdmChannelBound_, 0));
    r.set_tdm_outputs(std::max(tdmChannelBound_, 0));
    r.set_mixer_inputs(std::max(mixerInputBound_, 0));
    r.set_dpu_per_mixer(dpu_per_mixer);
    r.set_dpu_per_ec(dpu_per_ec);
    r.set_dpu_per_lms(dpu_per_lms);
  }
}

}  // namespace Mixer
