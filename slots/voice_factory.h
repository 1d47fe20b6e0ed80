#pragma once
// The maker of the voice slots (voice_slot.h) for the create alternative
// `voice`: a recorder for `record`, a network or file player for `player`.
// Each slot gets a transparent controller channel of its own on
// "/dev/mcc/ctl", opened for writing (players) or reading (recorders).
// The factory adds nothing to the resource report.
#include <cstdint>
#include <iosfwd>
#include <string>
#include <vector>

#include "asn1/modules/LGCP.h"
#include "asn1/modules/TERM.h"
#include "slots/slot_factory.h"

class PlaySlotGeneric;
class RecordSlot;

class VoiceFactory : public SlotFactory {
 public:
  static VoiceFactory& instance() {
    static VoiceFactory factory;
    return factory;
  }

  // "a.b.c.d:port", as the connections take it and the log lines show it.
  static std::string dhost2str(const TERM::HostAddress& host);

  const char* GetName() const override { return "Voice/mcc"; }
  Slot* INewSlot(const LGCP::CreateParams& params) override;
  void Query(LGCP::Resources&) override {}

  Slot* CreatePlay(const LGCP::PlayerParams& params);
  Slot* CreateRecord(const std::string& host);

  // A slot is going: it leaves the lists (a second call does nothing).
  void OnDestroy(RecordSlot* slot);
  void OnDestroy(PlaySlotGeneric* slot);

  const std::vector<RecordSlot*>& recorders() const { return recorders_; }
  const std::vector<PlaySlotGeneric*>& players() const { return players_; }

  void PutHeader(std::ostream& s) const;

 private:
  VoiceFactory() = default;

  // A transparent channel: its descriptor (invalid on failure, logged) and
  // its TDM channel.
  struct Channel;
  Channel Allocate(bool forPlaying);

  std::uint32_t counter_ = 0;
  std::vector<RecordSlot*> recorders_;
  std::vector<PlaySlotGeneric*> players_;
};
