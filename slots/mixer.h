#pragma once
// One mixer device of the board's mixer driver, and the one way the daemon
// talks to that driver.
//
// A device has TDM channels, each tied to a matrix timeslot. A channel can
// be a summator, whose output is the weighted sum of the channels added to
// it. The controller's mixer slots live on a device: a TdmOutput is a
// summator whose sum the create request lists, a TdmInput a channel fed from
// the matrix that may be added to one summator at unity weight
// (mixer_slot.h).
//
// The factory (mixer_factory.h) builds a Mixer for every device the driver
// lists and drops it from its list when the driver no longer does; the
// Mixer then tells its slots ("abort" 0) and deletes itself when the last
// of them is released. A slot released after its device has gone leaves
// the driver's sums alone: a device answering to that number now is
// another one, whose sums belong to other slots.
#include <cstddef>
#include <iosfwd>
#include <vector>

#include "asn1/modules/LGCP.h"
#include "platform/mixer_records.h"

namespace Hardware {
class TonecReceiver;
}

namespace Mixer {

class MixerFactory;
class MixerSlot;
class TdmInput;
class TdmOutput;

// Opens the driver read-only, issues the one request, closes it again,
// keeping the request's errno. -1 with the open's errno when the driver
// cannot be opened. Nothing keeps the driver open.
int mixer_ctl(unsigned long request, void* argument, std::size_t size);
template <class Record>
int mixer_ctl(unsigned long request, Record& argument) {
  return mixer_ctl(request, &argument, sizeof argument);
}

class Mixer {
 public:
  // The channel bound of the factory limits the channels slots may take.
  Mixer(const MixerFactory& factory, int dev_no);
  ~Mixer();
  Mixer(const Mixer&) = delete;
  Mixer& operator=(const Mixer&) = delete;

  int dev_no() const { return dev_no_; }
  // The driver no longer lists the device (set while an enumeration runs,
  // cleared when the device is listed again).
  bool vanished() const { return vanished_; }
  void set_vanished(bool vanished) { vanished_ = vanished; }
  const std::vector<MixerSlot*>& slots() const { return slots_; }

  // A new slot on the device, or null when the request cannot be served.
  TdmInput* New(const LGCP::MixerInParams& params);
  TdmOutput* New(const LGCP::MixerOutParams& params);
  // A slot's part of the device is undone and the slot let go (the device
  // may delete itself: the slot must not touch it afterwards).
  void Release(TdmInput& slot);
  void Release(TdmOutput& slot);

  // Empties every summator below the channel bound.
  void Reset();
  // The device has gone: each slot hears "abort" 0.
  void Clear();

  // The driver's address of a channel: only a tdm channel has one.
  bool Channel2Slot(const LGCP::MixerChannel& channel, mix_slot& out) const;
  // Empties a summator's sum.
  bool ClearTX(const LGCP::MixerChannel& channel);
  // Makes the output's sum what the request lists (its own channel at unity
  // when the list is empty). Inputs added before a refusal stay.
  bool SetTX(const LGCP::MixerOutParams& params);
  // The matrix timeslot of a channel, -1 when the driver refuses.
  int channel2timeslot(int channel) const;

  void Register(MixerSlot* slot);
  // Takes the slot off the device, which then may delete itself.
  void UnRegister(MixerSlot* slot);
  // Deletes the device once it has vanished and has no slot left.
  void CheckForDestroy();

  // "mixer [0]: ", the head of the device's log lines.
  void PutHeader(std::ostream& s) const;

 private:
  // A slot's DTMF string still playing is cut off with silence.
  static void StopDialling(Hardware::TonecReceiver& tonec);
  // A channel, the tdm alternative, that slots may take.
  bool SlotChannel(const LGCP::MixerChannel& channel, int& number) const;

  const MixerFactory& factory_;
  const int dev_no_;
  bool vanished_ = false;
  std::vector<MixerSlot*> slots_;
};

}  // namespace Mixer
