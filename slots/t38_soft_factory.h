#pragma once
// The maker of the software T.38 slots (t38_soft_slot.h) for the create
// alternative `t38soft`. Each slot gets a transparent controller channel
// on "/dev/mcc/ctl" and a child running the board's T.38 program:
//
//   /usr/local/sbin/t38 --child --remote ADDR/DPORT/SPORT [ARG...]
//
// ADDR and DPORT name the remote peer, SPORT the local port; at most 27
// extra arguments are passed. The channel is the child's standard input.
// The resource report counts the instances the program says it can run
// (`t38 --num-of-instances`, one decimal number); 0 when it cannot tell.
#include <iosfwd>

#include "slots/slot_factory.h"

class T38SoftFactory : public SlotFactory {
 public:
  static T38SoftFactory& instance() {
    static T38SoftFactory factory;
    return factory;
  }

  // Extra arguments passed at most.
  static constexpr unsigned max_args = 27;

  const char* GetName() const override { return "T.38 soft"; }
  Slot* INewSlot(const LGCP::CreateParams& params) override;
  void Query(LGCP::Resources& resources) override;

  int QueryNumOfInstances();

  void PutHeader(std::ostream& s) const;

 private:
  T38SoftFactory() = default;
};
