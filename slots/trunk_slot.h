#pragma once
// Trunk slots: one timeslot of an E1 trunk (four trunks of 32 timeslots,
// TDM channel 32 x trunk + timeslot) or one B-channel timeslot of a BRI
// trunk (eight trunks of 4, channel 4 x trunk + timeslot; the two ranges
// overlap). A trunk slot only lends its channel to connections; it announces
// its output and input right after it is created.
//
// One factory per trunk keeps the slot of each timeslot: a second slot on a
// timeslot destroys the first. The twelve factories are static objects,
// built before the process entry runs, so they are the last of the chain.
#include "slots/slot.h"
#include "slots/slot_factory.h"

class TrunkFactory;

class TrunkSlot : public Slot {
 public:
  TrunkSlot(TrunkFactory& owner, int channel) : owner_(owner), channel(channel) {}

  virtual int GetTimeSlot() const;
  int GetTrunk() const override;
  int GetTrunkTimeSlot() const override { return GetTimeSlot(); }
  void IAfterCreate() override;
  bool IBeforeDestroy() override;
  bool IOnOutputStream() override { return true; }
  bool IOnInputStream() override { return true; }
  int IGetTransmitChannel() const override { return channel; }
  int IGetReceiveChannel() const override { return channel; }
  const char* GetName() const override { return "trunk"; }

 private:
  TrunkFactory& owner_;

 protected:
  const int channel;
};

class TrunkBRISlot : public TrunkSlot {
 public:
  using TrunkSlot::TrunkSlot;
  int GetTimeSlot() const override;
  int GetTrunk() const override;
  const char* GetName() const override { return "trunkBRI"; }
};

class TrunkFactory : public SlotFactory {
 public:
  TrunkFactory(unsigned trunk, unsigned base) : trunk(trunk), base(base) {}

  const char* GetName() const override { return "Trunks"; }
  Slot* INewSlot(const LGCP::CreateParams& params) override;
  void Query(LGCP::Resources&) override {}
  // The slot is gone: its timeslot is free.
  virtual void ReleaseTrunkSlot(TrunkSlot* slot);

 protected:
  // The slot of a timeslot below count on this trunk, which replaces the
  // timeslot's old slot; null for another trunk or timeslot.
  Slot* NewTrunkSlot(const LGCP::TrunkParams& params, unsigned count);
  virtual TrunkSlot* MakeSlot(int channel);

  TrunkSlot* timeslots[32] = {};
  const unsigned trunk;
  const unsigned base;

 private:
  // Destroys the slot that holds the timeslot, if any.
  void FreeTimeSlot(unsigned timeslot);
};

class TrunkBRIFactory : public TrunkFactory {
 public:
  using TrunkFactory::TrunkFactory;
  const char* GetName() const override { return "TrunksBRI"; }
  Slot* INewSlot(const LGCP::CreateParams& params) override;

 protected:
  TrunkSlot* MakeSlot(int channel) override;
};

extern TrunkFactory trunk0, trunk1, trunk2, trunk3;
extern TrunkBRIFactory trunk_bri0, trunk_bri1, trunk_bri2, trunk_bri3, trunk_bri4, trunk_bri5, trunk_bri6,
    trunk_bri7;
