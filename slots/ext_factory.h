#pragma once
// External channel slots: a pair of bus channels handed to equipment
// outside the board, named by transmitter and receiver number (0..2047,
// TDM channels 8192 + n). The transmit side is announced at once and can
// feed other slots; the receive side takes a source only while the slot is
// activated: activation drives idle silence on it until a source is
// connected, deactivation cuts the source and stops driving it.
#include "slots/slot.h"
#include "slots/slot_factory.h"

class ExtSlot : public Slot {
 public:
  ExtSlot(int tx, int rx) : tx(tx), rx(rx) {}

  void IAfterCreate() override;
  bool IBeforeDestroy() override;
  bool IActivate(const TERM::TermActivateParams& params) override;
  bool IDeactivate() override;
  bool IOnOutputStream() override { return true; }
  bool IOnInputStream() override { return inputActive(); }
  int IGetTransmitChannel() const override { return tx; }
  int IGetReceiveChannel() const override { return rx; }
  const char* GetName() const override { return "bri"; }

 private:
  const int tx;
  const int rx;
};

class ExtFactory : public SlotFactory {
 public:
  static ExtFactory& instance() {
    static ExtFactory factory;
    return factory;
  }

  const char* GetName() const override { return "Ext"; }
  // Null for a number outside the bus (the create answers
  // insufficientResources).
  Slot* INewSlot(const LGCP::CreateParams& params) override;
  void Query(LGCP::Resources&) override {}

 private:
  ExtFactory() = default;
};
