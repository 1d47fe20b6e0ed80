#pragma once
// The factory of the mixer slots (mixer_slot.h) and the keeper of the
// board's mixer devices (mixer.h).
//
// It learns the devices from the driver at each resource query, never
// before: a mixer create request before the first query finds no device and
// fails. Each query lists the devices again: a new one is reset (its sums
// emptied) and joins the list; one no longer listed leaves it and tells
// its slots. The report gives, per device, the smallest channel and input
// counts over all devices, since a controller may use any channel below
// them on any device.
#include <vector>

#include "platform/voice_records.h"
#include "slots/slot_factory.h"

namespace Mixer {

class Mixer;

class MixerFactory : public SlotFactory {
 public:
  // The most devices one enumeration takes.
  static constexpr unsigned max_devices = 100;

  static MixerFactory& instance();
  ~MixerFactory() override;

  const char* GetName() const override { return "Mixer"; }
  Slot* INewSlot(const LGCP::CreateParams& params) override;
  // Enumerates the devices, then reports them.
  void Query(LGCP::Resources& resources) override;

  // Lists the devices again and reads the voice driver's version.
  void RefreshResources();
  // The listed device of that number, null when none.
  Mixer* findMixer(int unit) const;

  // The smallest channel and input counts of the last enumeration, -1 when
  // it found no device.
  int tdm_channel_bound() const { return tdmChannelBound_; }
  int mixer_input_bound() const { return mixerInputBound_; }
  const std::vector<Mixer*>& mixers() const { return mixers_; }
  // The voice driver's version record as last read; kept, never shown.
  bool version_valid() const { return versionValid_; }
  const voicedrv::Version& version() const { return version_; }

 private:
  MixerFactory() = default;
  void ReadVoiceVersion();

  bool versionValid_ = false;
  voicedrv::Version version_{};
  int mixerInputBound_ = -1;
  int tdmChannelBound_ = -1;
  std::vector<Mixer*> mixers_;
};

}  // namespace Mixer
