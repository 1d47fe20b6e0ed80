#include "slots/mixer.h"

#include <fcntl.h>
#include <string.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <iostream>
#include <sstream>

#include "hardware/device_names.h"
#include "platform/drv.h"
#include "slots/mixer_factory.h"
#include "slots/mixer_slot.h"

namespace Mixer {

int mixer_ctl(unsigned long request, void* argument, std::size_t size) {
  const int fd = drv::open(GetMixerDevName(), O_RDONLY | O_CLOEXEC);
  if (fd < 0) return -1;
  const int rc = drv::ioctl_ptr(fd, request, argument, size);
  const int err = errno;
  ::close(fd);
  errno = err;
  return rc;
}

namespace {

mix_slot address(int dev_no, int number) { return mix_slot{dev_no, mix_slot_tdm, number}; }

}  // namespace

Mixer::Mixer(const MixerFactory& factory, int dev_no) : factory_(factory), dev_no_(dev_no) {}

Mixer::~Mixer() {
  for (MixerSlot* slot : slots_) slot->mixer_ = nullptr;
}

void Mixer::PutHeader(std::ostream& s) const { s << "mixer [" << dev_no_ << "]: "; }

bool Mixer::SlotChannel(const LGCP::MixerChannel& channel, int& number) const {
  if (channel.getSelection() != LGCP::MixerChannel::e_tdm) return false;
  number = channel.get_tdm().getValue();
  return number >= 0 && number < factory_.tdm_channel_bound();
}

TdmInput* Mixer::New(const LGCP::MixerInParams& params) {
  int channel = -1;
  if (!SlotChannel(params.get_channel(), channel)) return nullptr;
  const int timeslot = channel2timeslot(channel);
  if (timeslot < 0) return nullptr;
  TdmInput* slot = new TdmInput(channel, timeslot);
  if (params.hasOptionalField(LGCP::MixerInParams::o_summator)) {
    const LGCP::MixerChannel& summator = params.get_summator();
    std::ostringstream line;
    PutHeader(line);
    if (summator.getSelection() == LGCP::MixerChannel::e_tdm) {
      slot->summator_ = summator.get_tdm().getValue();
      MixRx r{address(dev_no_, slot->summator_), address(dev_no_, channel), mix_unity};
      if (mixer_ctl(MIX_RX_ADD, r) < 0) {
        line << "MIX_RX_ADD" << " fail : " << ::strerror(errno) << "\n";
        std::cerr << line.str() << std::flush;
      }
    } else {
      line << "wrong summator coding !\n";
      std::cerr << line.str() << std::flush;
    }
  }
  if (params.hasOptionalField(LGCP::MixerInParams::o_ecm)) {
    const LGCP::EchoCancelMode& ecm = params.get_ecm();
    static_cast<Hardware::TonecReceiver&>(*slot).echoCancel(ecm.get_ec().getValue() || ecm.get_es().getValue());
  }
  Register(slot);
  return slot;
}

TdmOutput* Mixer::New(const LGCP::MixerOutParams& params) {
  if (!SetTX(params)) return nullptr;
  int channel = -1;
  if (!SlotChannel(params.get_channel(), channel)) return nullptr;
  const int timeslot = channel2timeslot(channel);
  if (timeslot < 0) return nullptr;
  TdmOutput* slot = new TdmOutput(channel, timeslot);
  Register(slot);
  return slot;
}

void Mixer::StopDialling(Hardware::TonecReceiver& tonec) {
  if (!tonec.dialling()) return;
  tonec.enableSilence();
  tonec.disableToneGenerator(true);
}

void Mixer::Release(TdmInput& slot) {
  StopDialling(slot);
  if (!vanished_ && slot.summator_ >= 0) {
    MixRx r{address(dev_no_, slot.summator_), address(dev_no_, slot.channel_), 0};
    if (mixer_ctl(MIX_RX_REMOVE, r) < 0) {
      std::ostringstream line;
      PutHeader(line);
      line << "MIX_RX_REMOVE" << " rx.number=" << slot.summator_ << " tx.number=" << slot.channel_
           << " fail : " << ::strerror(errno) << "\n";
      std::cerr << line.str() << std::flush;
    }
  }
  UnRegister(&slot);
}

void Mixer::Release(TdmOutput& slot) {
  StopDialling(slot);
  if (!vanished_) {
    std::ostringstream line;
    PutHeader(line);
    line << "clear tdm output " << slot.channel_ << "\n";
    std::clog << line.str() << std::flush;
    mix_slot s = address(dev_no_, slot.channel_);
    mixer_ctl(MIX_RX_CLEAR, s);
  }
  UnRegister(&slot);
}

void Mixer::Reset() {
  std::ostringstream line;
  PutHeader(line);
  line << "clear all inputs\n";
  std::clog << line.str() << std::flush;
  int errors = 0;
  for (int channel = 0; channel < factory_.tdm_channel_bound(); ++channel) {
    mix_slot s = address(dev_no_, channel);
    if (mixer_ctl(MIX_RX_CLEAR, s) < 0) ++errors;
  }
  if (errors) {
    std::ostringstream fail;
    PutHeader(fail);
    fail << "reset fail: " << errors << " errors.\n";
    std::cerr << fail.str() << std::flush;
  }
}

void Mixer::Clear() {
  for (MixerSlot* slot : slots_) slot->OnAbort(0);
  CheckForDestroy();
}

bool Mixer::Channel2Slot(const LGCP::MixerChannel& channel, mix_slot& out) const {
  out = address(dev_no_, 0);
  if (channel.getSelection() != LGCP::MixerChannel::e_tdm) return false;
  out.number = channel.get_tdm().getValue();
  return true;
}

bool Mixer::ClearTX(const LGCP::MixerChannel& channel) {
  std::ostringstream line;
  PutHeader(line);
  mix_slot s;
  if (!Channel2Slot(channel, s)) {
    line << "ClearTX error: translation fail\n";
  } else if (mixer_ctl(MIX_RX_CLEAR, s) < 0) {
    line << "MIX_RX_CLEAR" << " dev_no=" << s.dev_no << " type=" << s.type << " number=" << s.number << " fail : "
         << ::strerror(errno) << "\n";
  } else {
    return true;
  }
  std::cerr << line.str() << std::flush;
  return false;
}

bool Mixer::SetTX(const LGCP::MixerOutParams& params) {
  if (!ClearTX(params.get_channel())) return false;
  std::ostringstream line;
  PutHeader(line);
  const auto add = [&line](MixRx& r) {
    if (mixer_ctl(MIX_RX_ADD, r) >= 0) return true;
    line << "MIX_RX_ADD" << " fail : " << ::strerror(errno) << "\n";
    return false;
  };
  bool done = true;
  const auto& inputs = params.get_inputs();
  MixRx r{};
  if (inputs.size() == 0) {
    // Without inputs the output sends its own channel on.
    if (!Channel2Slot(params.get_channel(), r.rx)) {
      line << "SetTX error: mixer translation fail\n";
      done = false;
    } else {
      r.tx = r.rx;
      r.weight = mix_unity;
      done = add(r);
    }
  }
  for (unsigned i = 0; done && i < inputs.size(); ++i) {
    if (!Channel2Slot(params.get_channel(), r.rx)) {
      line << "SetTX error: translation fail [1]\n";
      done = false;
    } else if (!Channel2Slot(inputs[i].get_channel(), r.tx)) {
      line << "SetTX error: translation fail [2]\n";
      done = false;
    } else {
      r.weight = inputs[i].get_gain().getValue();
      done = add(r);
    }
  }
  if (!done) std::cerr << line.str() << std::flush;
  return done;
}

int Mixer::channel2timeslot(int channel) const {
  mix_slot s = address(dev_no_, channel);
  const int timeslot = mixer_ctl(MIX_TDM, s);
  if (timeslot >= 0) return timeslot;
  std::ostringstream line;
  PutHeader(line);
  line << "MIX_TDM" << " dev_no=" << s.dev_no << " type=" << s.type << " number=" << s.number << " fail : "
       << ::strerror(errno) << "\n";
  std::cerr << line.str() << std::flush;
  return -1;
}

void Mixer::Register(MixerSlot* slot) {
  slots_.push_back(slot);
  slot->mixer_ = this;
}

void Mixer::UnRegister(MixerSlot* slot) {
  slots_.erase(std::remove(slots_.begin(), slots_.end(), slot), slots_.end());
  slot->mixer_ = nullptr;
  CheckForDestroy();
}

void Mixer::CheckForDestroy() {
  if (vanished_ && slots_.empty()) delete this;
}

}  // namespace Mixer
