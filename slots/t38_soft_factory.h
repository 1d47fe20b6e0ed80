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
// The program is asked from the loop, which goes on serving meanwhile: the
// report waits for its line at most count_ms, after which the program is
// killed, the count is 0 and one line says so.
#include <sys/types.h>

#include <iosfwd>
#include <string>

#include "runtime/child_wait.h"
#include "runtime/event.h"
#include "runtime/fd.h"
#include "runtime/timer.h"
#include "slots/slot_factory.h"

class T38SoftFactory : public SlotFactory {
 public:
  static T38SoftFactory& instance() {
    static T38SoftFactory factory;
    return factory;
  }

  // Extra arguments passed at most.
  static constexpr unsigned max_args = 27;
  // How long the count may take.
  static constexpr unsigned count_ms = 1000;

  const char* GetName() const override { return "T.38 soft"; }
  Slot* INewSlot(const LGCP::CreateParams& params) override;
  // Starts the program for its count; true when there is none to start
  // (the count is 0 at once).
  bool PrepareQuery() override;
  // The count the program gave last.
  void Query(LGCP::Resources& resources) override;

  // Whether the program is being asked.
  bool counting() const { return countPid != -1 || countPipe.valid(); }

  void PutHeader(std::ostream& s) const;

 private:
  T38SoftFactory();

  void OnCountInput(int fd, short revents);
  void OnCountEnd(int status);
  void OnCountTimeout();
  // The count is known from the line read so far, or late (none, and the
  // program is killed): the report may go.
  void Counted(bool late);

  int instances = 0;
  pid_t countPid = -1;
  Fd countPipe;
  std::string countLine;
  Event countEvent;
  Timer countTimer;
  ChildWait countWait;
};
