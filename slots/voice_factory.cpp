#include "slots/voice_factory.h"

#include <errno.h>
#include <fcntl.h>

#include <algorithm>
#include <cstring>
#include <iostream>
#include <sstream>

#include "platform/drv.h"
#include "platform/mcc_records.h"
#include "platform/sysroot.h"
#include "runtime/ext_out.h"
#include "runtime/fd.h"
#include "slots/voice_slot.h"

struct VoiceFactory::Channel {
  Fd mcc;
  int channel = -1;
};

std::string VoiceFactory::dhost2str(const TERM::HostAddress& host) {
  return host.get_iaddr().str() + ":" + std::to_string(host.get_port().getValue());
}

void VoiceFactory::PutHeader(std::ostream& s) const {
  s << "voice/mcc"
    << "[" << counter_ << "]: ";
}

Slot* VoiceFactory::INewSlot(const LGCP::CreateParams& params) {
  if (params.getSelection() != LGCP::CreateParams::e_voice) return nullptr;
  const LGCP::VoiceParams& voice = params.get_voice();
  switch (voice.getSelection()) {
    case LGCP::VoiceParams::e_record:
      return CreateRecord(dhost2str(voice.get_record()));
    case LGCP::VoiceParams::e_player:
      return CreatePlay(voice.get_player());
    default:
      return nullptr;
  }
}

// Players write to their channel, recorders read from it; the thresholds
// follow the direction.
VoiceFactory::Channel VoiceFactory::Allocate(bool forPlaying) {
  Channel c;
  Fd fd(drv::open(sysroot::mcc_ctl, (forPlaying ? O_WRONLY : O_RDONLY) | O_NONBLOCK | O_CLOEXEC));
  std::ostringstream error;
  error << ext::header(this);
  if (!fd.valid()) {
    const int err = errno;
    error << "fail to open " << sysroot::mcc_ctl << " device for " << (forPlaying ? "writing" : "reading") << ": "
          << std::strerror(err) << '\n';
    std::cerr << error.str() << std::flush;
    return c;
  }
  mcc::MccAllocate rec{mcc::transparent, 1024, 0, forPlaying ? 0 : 5, forPlaying ? 5 : 0};
  if (drv::ioctl_ptr(fd.get(), MCC_ALLOCATE, &rec, sizeof rec) < 0) {
    const int err = errno;
    error << "MCC_ALLOCATE fail: " << std::strerror(err) << '\n';
    std::cerr << error.str() << std::flush;
    return c;
  }
  const int channel = drv::ioctl_val(fd.get(), MCC_TIMESLOT, 0);
  if (channel < 0) {
    error << "MCC_TIMESLOT request failed." << '\n';
    std::cerr << error.str() << std::flush;
    return c;
  }
  c.mcc = std::move(fd);
  c.channel = channel;
  return c;
}

Slot* VoiceFactory::CreatePlay(const LGCP::PlayerParams& params) {
  const int kind = params.getSelection();
  if (kind != LGCP::PlayerParams::e_network && kind != LGCP::PlayerParams::e_file) return nullptr;
  Channel c = Allocate(true);
  if (!c.mcc.valid()) return nullptr;
  PlaySlotGeneric* slot;
  if (kind == LGCP::PlayerParams::e_network) {
    const LGCP::PlayerParams_network& network = params.get_network();
    slot = new PlaySlotNetwork(*this, std::move(c.mcc), c.channel, dhost2str(network.get_host()),
                               static_cast<std::uint32_t>(network.get_id().getValue()));
  } else {
    const LGCP::PlayerParams_file& file = params.get_file();
    std::vector<std::string> phrases;
    for (const ASN1::IA5String& name : file.get_name()) {
      if (!PlaySlotFile::Acceptable(name.str())) {
        std::ostringstream line;
        line << ext::header(this) << "phrase \"" << name.str() << "\" refused: outside " << sysroot::voice_dir << '\n';
        std::cerr << line.str() << std::flush;
      }
      phrases.push_back(name.str());
    }
    slot = new PlaySlotFile(*this, std::move(c.mcc), c.channel, std::move(phrases),
                            static_cast<std::uint32_t>(file.get_repeat().getValue()));
  }
  players_.push_back(slot);
  ++counter_;
  return slot;
}

Slot* VoiceFactory::CreateRecord(const std::string& host) {
  Channel c = Allocate(false);
  if (!c.mcc.valid()) return nullptr;
  RecordSlot* slot = new RecordSlot(*this, std::move(c.mcc), host, c.channel);
  recorders_.push_back(slot);
  ++counter_;
  return slot;
}

void VoiceFactory::OnDestroy(RecordSlot* slot) {
  recorders_.erase(std::remove(recorders_.begin(), recorders_.end(), slot), recorders_.end());
}

void VoiceFactory::OnDestroy(PlaySlotGeneric* slot) {
  players_.erase(std::remove(players_.begin(), players_.end(), slot), players_.end());
}
