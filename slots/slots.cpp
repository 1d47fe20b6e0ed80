#include "slots/slots.h"

#include <algorithm>
#include <chrono>
#include <iostream>
#include <thread>

#include "runtime/child_wait.h"
#include "slots/param_ranges.h"
#include "slots/slot.h"
#include "slots/slot_factory.h"

Slots& Slots::instance() {
  static Slots slots;
  return slots;
}

Slots::Slots() = default;

// Slots still here at exit are the process's to reclaim.
Slots::~Slots() = default;

void Slots::UpdateHardwareResources() {
  ++reportsOwed_;
  // Counts still coming serve this report as well.
  if (queriesPending_) return;
  for (SlotFactory* f = SlotFactory::firstFactory; f; f = f->next())
    if (!f->PrepareQuery()) ++queriesPending_;
  if (!queriesPending_) SendReports();
}

void Slots::OnQueryReady() {
  if (queriesPending_ && --queriesPending_ == 0) SendReports();
}

void Slots::SendReports() {
  for (; reportsOwed_; --reportsOwed_) {
    LGCP::Signal signal;
    LGCP::Resources& resources = signal.select_query();
    resources.set_mux(true);
    for (SlotFactory* f = SlotFactory::firstFactory; f; f = f->next()) f->Query(resources);
    SendSignal(signal);
  }
}

void Slots::OnConnect() {}

void Slots::OnDisconnect() {
  // Reports still waiting for counts were for the controller that went.
  reportsOwed_ = 0;
  while (!list_.empty()) {
    Slot* slot = list_.front();
    if (!slot->releasing_ && Destroy(slot)) continue;
    list_.erase(std::find(list_.begin(), list_.end(), slot));
    // Whoever asked for a late answer has gone with the controller.
    slot->delayed_ = false;
    stragglers_.push_back(slot);
  }
  if (stragglers_.empty()) return;
  // A last moment for the releases, which cannot finish while the loop
  // waits here.
  std::this_thread::sleep_for(std::chrono::seconds(1));
  // Programs that ended meanwhile have been reaped: their ends are read
  // now, and finish their slots' releases, before anything is killed by a
  // pid that may be free again. What is left is deleted without them.
  if (ChildWaitService::childWaitService) ChildWaitService::childWaitService->Drain();
  while (!stragglers_.empty()) {
    Slot* slot = stragglers_.front();
    if (slot->factory_) slot->factory_->Remove(slot);
    int_destroy(slot);
  }
}

void Slots::OnSignal(const LGCP::Signal& signal) {
  if (signal.getSelection() != LGCP::Signal::e_trunkStatus) return;
  for (SlotFactory* f = SlotFactory::firstFactory; f; f = f->next()) f->SelfSignal(signal);
}

bool Slots::OnCommand(const LGCP::Command& command) {
  return IsSlotPresent() ? OnSlotCommand(command) : OnBaseCommand(command);
}

bool Slots::OnBaseCommand(const LGCP::Command& command) {
  if (command.getSelection() != LGCP::Command::e_query) return false;
  Success();
  UpdateHardwareResources();
  return true;
}

bool Slots::OnSlotCommand(const LGCP::Command& command) {
  switch (command.getSelection()) {
    case LGCP::Command::e_connect:
    case LGCP::Command::e_disconnect:
    case LGCP::Command::e_create:
    case LGCP::Command::e_destroy:
    case LGCP::Command::e_activate:
    case LGCP::Command::e_deactivate:
    case LGCP::Command::e_userData:
    case LGCP::Command::e_ioctl:
      break;
    default:
      return false;
  }
  // The session holds slot numbers to the table already; a number beyond
  // it must not index it all the same.
  if (!CheckSlot(GetSlot())) {
    Error(LGCP::ErrorCause::invalidSlot);
    return true;
  }
  Slot* slot = nullptr;
  switch (command.getSelection()) {
    case LGCP::Command::e_connect:
      CmdConnect(command.get_connect().getValue());
      break;
    case LGCP::Command::e_disconnect:
      CmdDisconnect();
      break;
    case LGCP::Command::e_create:
      CmdCreate(command.get_create());
      break;
    case LGCP::Command::e_destroy:
      CmdDestroy();
      break;
    case LGCP::Command::e_activate:
      if ((slot = Addressed())) Answer(slot->IActivate(command.get_activate()), LGCP::ErrorCause::unsupported);
      break;
    case LGCP::Command::e_deactivate:
      if ((slot = Addressed())) Answer(slot->IDeactivate(), LGCP::ErrorCause::unsupported);
      break;
    case LGCP::Command::e_userData:
      if ((slot = Addressed())) Answer(slot->IUserData(command.get_userData()), LGCP::ErrorCause::unsupported);
      break;
    default:
      if ((slot = Addressed()) && InRange("ioctl", ParamRanges::Ioctl(command.get_ioctl())))
        Answer(slot->Ioctl(command.get_ioctl()), LGCP::ErrorCause::unsupported);
      break;
  }
  return true;
}

Slot* Slots::Addressed() {
  Slot* slot = table_[GetSlot()];
  if (!slot) Error(LGCP::ErrorCause::slotNotExists);
  return slot;
}

void Slots::Answer(bool done, LGCP::ErrorCause::NamedNumber cause) {
  if (done)
    Success();
  else
    Error(cause);
}

// Addressed to the source; the target is the receiver.
void Slots::CmdConnect(unsigned target) {
  if (!CheckSlot(target)) {
    Error(LGCP::ErrorCause::invalidSlot);
    return;
  }
  Slot* source = table_[GetSlot()];
  Slot* receiver = table_[target];
  if (!source || !receiver) {
    Error(LGCP::ErrorCause::slotNotExists);
    return;
  }
  Answer(Connect(*source, *receiver), LGCP::ErrorCause::connectFail);
}

void Slots::CmdDisconnect() {
  if (Slot* slot = Addressed()) Answer(Disconnect(*slot), LGCP::ErrorCause::disconnectFail);
}

bool Slots::InRange(const char* command, const std::string& fault) {
  if (fault.empty()) return true;
  std::cerr << "slots: " + std::string(command) + " refused, out of range: " + fault + "\n" << std::flush;
  Error(LGCP::ErrorCause::invalidParams);
  return false;
}

void Slots::CmdCreate(const LGCP::CreateParams& params) {
  const unsigned n = GetSlot();
  // Before the slot at the number is replaced: a refused create changes
  // nothing.
  if (!InRange("create", ParamRanges::Create(params))) return;
  if (Slot* old = table_[n]) {
    if (old->releasing_) {
      Error(LGCP::ErrorCause::destroyInProgress);
      return;
    }
    Destroy(old);
    if (table_[n]) {
      Error(LGCP::ErrorCause::slotIdBusy);
      return;
    }
  }
  for (SlotFactory* f = SlotFactory::firstFactory; f; f = f->next()) {
    Slot* slot = f->NewSlot(params);
    if (!slot) continue;
    slot->id_ = static_cast<std::int32_t>(n);
    list_.push_back(slot);
    table_[n] = slot;
    Success();
    slot->IAfterCreate();
    return;
  }
  Error(LGCP::ErrorCause::insufficientResources);
}

void Slots::CmdDestroy() {
  Slot* slot = Addressed();
  if (!slot) return;
  if (slot->releasing_) {
    Error(LGCP::ErrorCause::destroyInProgress);
    return;
  }
  if (Destroy(slot)) {
    Success();
    return;
  }
  // Answered when the release has finished, with this request's seq.
  slot->delayed_ = true;
  slot->delayedSeq_ = delayResponse();
}

void Slots::Cut(Slot* slot) {
  Disconnect(*slot);
  for (std::size_t n = slot->receivers_.size(); n > 0; --n) {
    if (slot->receivers_.empty()) {
      std::cerr << "mux internal error: expected slots not exists." << std::endl;
      break;
    }
    Disconnect(*slot->receivers_.front());
  }
  if (!slot->receivers_.empty()) std::cerr << "mux internal error: unexpected slots exists." << std::endl;
}

bool Slots::Destroy(Slot* slot) {
  Cut(slot);
  slot->releasing_ = true;
  if (!slot->BeforeDestroy()) return false;
  on_release(slot);
  return true;
}

void Slots::on_release(Slot* slot) {
  // Only a destroy whose answer was held back is answered here: a slot
  // destroyed at once, replaced, or taken with the controller has had its
  // answer, or needs none.
  if (slot->delayed_) delayedSuccess(static_cast<unsigned>(slot->id_), slot->delayedSeq_);
  int_destroy(slot);
}

void Slots::int_destroy(Slot* slot) {
  // A slot still releasing takes commands, connects among them: what was
  // connected since its destroy began goes before it does.
  if (slot->source_ || !slot->receivers_.empty()) Cut(slot);
  list_.erase(std::remove(list_.begin(), list_.end(), slot), list_.end());
  stragglers_.erase(std::remove(stragglers_.begin(), stragglers_.end(), slot), stragglers_.end());
  if (CheckSlot(static_cast<unsigned>(slot->id_)) && table_[slot->id_] == slot) table_[slot->id_] = nullptr;
  delete slot;
}
