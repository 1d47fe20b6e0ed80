#pragma once
// Map slots: channels of the board's shared TDM buses, named by bus (0..15)
// and channel (0..127), TDM channel 8192 + 128 x bus + channel. A map slot
// has a transmit channel that other slots can receive from, a receive
// channel that another slot's output is switched into, or both; like a
// trunk slot it only lends its channels to connections.
//
// One factory serves every map slot and gives each shared channel to one
// slot at most, whichever side uses it: a new slot on a channel destroys
// the slot that held it. A slot may hold one channel on both sides (a bus
// wire carried through). When a slot goes, its receive channel stops being
// driven.
#include "slots/slot.h"
#include "slots/slot_factory.h"

class MapFactory;

class MapSlot : public Slot {
 public:
  // Channels are TDM channel numbers, -1 for a side the slot does not have.
  MapSlot(MapFactory& owner, int tx, int rx) : owner_(owner), tx(tx), rx(rx) {}

  bool IsTxExists() const { return tx >= 0; }
  bool IsRxExists() const { return rx >= 0; }
  int GetTxLogChannel() const;
  int GetRxLogChannel() const;

  void IAfterCreate() override;
  bool IBeforeDestroy() override;
  bool IOnOutputStream() override { return IsTxExists(); }
  bool IOnInputStream() override { return IsRxExists(); }
  int IGetTransmitChannel() const override { return tx; }
  int IGetReceiveChannel() const override { return rx; }
  const char* GetName() const override { return "map"; }

 private:
  friend class MapFactory;

  MapFactory& owner_;
  const int tx;
  const int rx;
};

class MapFactory : public SlotFactory {
 public:
  static MapFactory& instance();

  // The TDM channel of a shared channel.
  static int GetMapTimeSlot(unsigned bus, unsigned channel);

  const char* GetName() const override { return "Map"; }
  Slot* INewSlot(const LGCP::CreateParams& params) override;
  void Query(LGCP::Resources&) override {}

  // Takes the slot's channels, destroying their old holders.
  void AllocateMapSlot(MapSlot* slot);
  // Frees the slot's channels and stops driving its receive channel.
  void ReleaseMapSlot(MapSlot* slot);

  // The holder of a logical channel (0..2047), null when free.
  const MapSlot* owner(int logical) const;

 private:
  MapFactory() = default;
  // Makes the slot the holder of a logical channel.
  void Take(MapSlot* slot, int logical);

  MapSlot* owners[2048] = {};
};
