#pragma once
// The slot registry: the control service, bound second after the heartbeat,
// that owns every slot in a table of 1024 numbers and carries out the slot
// commands of the controller.
//
//   with a slot number: connect (to a target number), disconnect, create,
//     destroy, activate, deactivate, userData, ioctl;
//   without one: query (answered, then the resource report as the signal
//     `query`).
//
// Create asks the factory chain from its head; the first slot made wins the
// number (a number in use is destroyed first). Destroy cuts the slot's
// connections and deletes it, or, when the slot's release has to finish
// first, answers later with the request's own seq. When the controller goes,
// every slot goes: those still releasing after the others have gone are
// deleted after a one-second pause.
#include <string>
#include <vector>

#include "control/ctrl_service.h"

class Slot;

class Slots : public CtrlSrv::Service {
 public:
  static constexpr unsigned table_size = 1024;

  static Slots& instance();
  ~Slots() override;

  // Whether n can be a slot number.
  static bool CheckSlot(unsigned n) { return n < table_size; }

  // Reports every factory's resources to the controller (on SIGHUP, and
  // after a resource query); once counts a factory gathers from the loop
  // are in, when there are such.
  void UpdateHardwareResources();
  // A factory's counts that PrepareQuery left coming are in.
  void OnQueryReady();

  void OnConnect() override;
  void OnDisconnect() override;
  bool OnCommand(const LGCP::Command& command) override;
  // Hands trunk status to every factory.
  void OnSignal(const LGCP::Signal& signal) override;

  // Cuts every connection of the slot and starts its release; true when the
  // slot is gone already, false when it releases later.
  bool Destroy(Slot* slot);
  // Completes a destroy: answers a delayed one, deletes the slot.
  void on_release(Slot* slot);
  // Forgets the slot and deletes it.
  void int_destroy(Slot* slot);

  // The slot under a number, null when free.
  Slot* slot(unsigned n) const { return CheckSlot(n) ? table_[n] : nullptr; }
  // The live slots, oldest first.
  const std::vector<Slot*>& slots() const { return list_; }

 private:
  Slots();

  bool OnSlotCommand(const LGCP::Command& command);
  bool OnBaseCommand(const LGCP::Command& command);
  void CmdConnect(unsigned target);
  void CmdDisconnect();
  void CmdCreate(const LGCP::CreateParams& params);
  // Whether a command's numbers are in range (fault from ParamRanges);
  // else logs the fault and answers invalidParams.
  bool InRange(const char* command, const std::string& fault);
  void CmdDestroy();
  // The slot of the request, or null after answering slotNotExists.
  Slot* Addressed();
  // Cuts the slot from its source and from every receiver.
  void Cut(Slot* slot);
  // Answers success or the given error.
  void Answer(bool done, LGCP::ErrorCause::NamedNumber cause);

  // Sends the reports owed, each with the factories' counts as they are.
  void SendReports();

  Slot* table_[table_size] = {};
  std::vector<Slot*> list_;
  // Slots whose release is still under way when the controller has gone,
  // to be deleted after a last moment.
  std::vector<Slot*> stragglers_;
  // Reports asked for and not yet sent, factories whose counts are coming.
  unsigned reportsOwed_ = 0;
  unsigned queriesPending_ = 0;
};
