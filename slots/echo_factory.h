#pragma once
// Echo canceller slots: a channel (0..31) of one of the board's sixteen
// echo-canceller buses, TDM channel 32 x bus + channel, carrying both ways.
// The factory scans for the buses when it is built and serves only those
// present; the resource report lists them. This board has none, so no echo
// slot is made and the report's echoBus stays empty.
#include "slots/slot.h"
#include "slots/slot_factory.h"

class EchoSlot : public Slot {
 public:
  explicit EchoSlot(unsigned channel) : channel(channel) {}

  void IAfterCreate() override;
  bool IOnOutputStream() override { return true; }
  bool IOnInputStream() override { return true; }
  int IGetTransmitChannel() const override { return static_cast<int>(channel); }
  int IGetReceiveChannel() const override { return static_cast<int>(channel); }
  const char* GetName() const override { return "echo"; }

 private:
  const unsigned channel;
};

class EchoFactory : public SlotFactory {
 public:
  static constexpr unsigned buses = 16;
  static constexpr unsigned bus_channels = 32;

  static EchoFactory& instance() {
    static EchoFactory factory;
    return factory;
  }

  const char* GetName() const override { return "Echo"; }
  Slot* INewSlot(const LGCP::CreateParams& params) override;
  // echoBus: the buses present, in increasing order.
  void Query(LGCP::Resources& resources) override;

  // Looks for the buses; none is ever found here.
  void Scan();

 private:
  EchoFactory() { Scan(); }

  bool present[buses] = {};
};
