#pragma once
// A software T.38 slot: a fax call relayed between a TDM channel and a
// remote T.38 peer by the board's T.38 program, one child process per
// slot, whose standard input is the slot's transparent controller channel
// (t38_soft_factory.h starts it). The slot's TDM channel carries both
// directions; both streams are on from creation.
//
// The child's end reaches the controller as "abort" with the raw wait
// status (exit code 3: 768). Destroy sends the child SIGTERM and does not
// wait for it; a child still running terminate_ms later is killed. A child
// that has ended is not signalled, but what it started and left running
// (which may hold the slot's channel) gets the same SIGTERM and SIGKILL.
#include <iosfwd>

#include "runtime/child_wait.h"
#include "slots/slot.h"

class T38SoftSlot : public Slot {
 public:
  // How long a destroyed slot's child has to end after SIGTERM.
  static constexpr unsigned terminate_ms = 2000;

  T38SoftSlot(int pid, int channel);

  void IAfterCreate() override;
  bool IBeforeDestroy() override;
  bool IOnOutputStream() override { return true; }
  bool IOnInputStream() override { return true; }
  int IGetTransmitChannel() const override { return channel; }
  int IGetReceiveChannel() const override { return channel; }
  const char* GetName() const override { return "t38 soft"; }

  void OnT38Terminate(int status);

  // The child's pid, -1 once it has ended.
  int child_pid() const { return pid; }
  void PutHeader(std::ostream& s) const;

 private:
  int pid;
  // The child as started, kept after its end: its group outlives it while
  // anything it started runs.
  int started;
  const int channel;
  ChildWait child;
};
