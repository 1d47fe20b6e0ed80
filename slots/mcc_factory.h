#pragma once
// MCC data slots: raw data channels of the board's multi-channel controller,
// switched on the matrix like any slot. What the controller sends as user
// data is written to the channel as it comes (one frame in the framed
// kinds, a run of octets on a transparent channel); what the channel
// delivers goes back as user data, one signal per read. The factory also
// reports the controller's free channels of each kind.
#include <vector>

#include "runtime/event.h"
#include "runtime/fd.h"
#include "slots/slot.h"
#include "slots/slot_factory.h"

class MccSlot : public Slot {
 public:
  // Watches a duplicate of the allocated descriptor; channel is its TDM
  // channel.
  MccSlot(const Fd& mcc, int channel);
  // The channel's receiver is no longer driven before the channel goes.
  ~MccSlot() override;

  // False when the octets could not all be written: the command is answered
  // busError, so the controller never takes unsent data for sent.
  bool IUserData(const std::vector<char>& data) override;
  bool IOnOutputStream() override { return true; }
  bool IOnInputStream() override { return true; }
  // -1 once the channel has failed: the number may be another slot's now.
  int IGetTransmitChannel() const override { return event.fd().valid() ? channel : -1; }
  int IGetReceiveChannel() const override { return event.fd().valid() ? channel : -1; }
  const char* GetName() const override { return "MCC"; }

  // "mcc[C]: "
  void PutHeader(std::ostream& s) const;

 private:
  void OnEvent(int fd, short revents);
  void DoRead();
  // The channel has failed: its streams end, its paths are undone, and it
  // is watched no more (and takes no data).
  void Close(const char* why, int err);

  const int channel;
  Event event;
};

class MccFactory : public SlotFactory {
 public:
  static MccFactory& instance() {
    static MccFactory factory;
    return factory;
  }

  const char* GetName() const override { return "MCC"; }
  Slot* INewSlot(const LGCP::CreateParams& params) override;
  // mcc-data, mcc-bri, mcc-trans: the driver's free channels (0 when it
  // cannot tell).
  void Query(LGCP::Resources& resources) override;

 private:
  MccFactory() = default;
};
