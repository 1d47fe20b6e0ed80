#pragma once
// The base of every slot factory: the maker of one family of slots. Each
// factory links itself at the head of one global chain when it is built, so
// the factory built last is asked first; Slots walks the chain from its head
// to create a slot, to collect the resources it reports and to hand on
// trunk status.
//
//   class EchoFactory : public SlotFactory {
//    public:
//     static EchoFactory& instance() { static EchoFactory f; return f; }
//     const char* GetName() const override { return "Echo"; }
//     Slot* INewSlot(const LGCP::CreateParams& p) override {
//       if (p.getSelection() != LGCP::CreateParams::e_echo) return nullptr;  // not ours
//       return new EchoSlot(...);                    // or null: cannot serve it
//     }
//     void Query(LGCP::Resources& r) override { r.get_echoBus()...; }
//    private:
//     EchoFactory() = default;
//   };
//
// NewSlot (called by Slots) keeps every slot the factory made in slots()
// until the slot is destroyed; a factory walks that list to reach its slots.
#include <vector>

#include "asn1/modules/LGCP.h"

class Slot;

class SlotFactory {
 public:
  SlotFactory(const SlotFactory&) = delete;
  SlotFactory& operator=(const SlotFactory&) = delete;
  // Leaves the chain (factories normally live until the process ends).
  virtual ~SlotFactory();

  virtual const char* GetName() const = 0;
  // A new slot, or null when the parameters are not for this family or
  // cannot be served.
  virtual Slot* INewSlot(const LGCP::CreateParams& params) = 0;
  // Gets this family's counts ready for a resource report: true when they
  // are; false when they come later, and the factory then calls
  // Slots::OnQueryReady once they have.
  virtual bool PrepareQuery() { return true; }
  // Adds this family's counts to the resource report.
  virtual void Query(LGCP::Resources& resources) = 0;
  // Sees the trunk-status signals (nothing by default).
  virtual void SelfSignal(const LGCP::Signal& signal);

  // INewSlot, and the slot joins this factory's list.
  Slot* NewSlot(const LGCP::CreateParams& params);
  // Takes every occurrence of the slot off the list.
  void Remove(Slot* slot);
  // The slots made here and not yet destroyed, oldest first.
  const std::vector<Slot*>& slots() const { return slots_; }

  SlotFactory* next() const { return next_; }

  // Head of the chain: the most recently built factory.
  static SlotFactory* firstFactory;

 protected:
  SlotFactory();

 private:
  std::vector<Slot*> slots_;
  SlotFactory* next_;
};
