#pragma once
// The base of every control service: the hardware services, the slots, the
// monitoring service and the heartbeat derive from it and are bound to the
// controller session, which offers each command to them in bind order until
// one claims it. A service answers the request being handled through
// Success() or Error(), or defers its answer:
//
//   bool Slots::OnCommand(const LGCP::Command& c) {
//     if (c.getSelection() != LGCP::Command::e_destroy) return false;   // not mine
//     if (!slotExists) { Error(LGCP::ErrorCause::slotNotExists); return true; }
//     if (destroyedAtOnce) { Success(); return true; }
//     slot->delayedSeq = delayResponse();            // counts as answered
//     return true;
//   }
//   ...later, when the slot has gone:  delayedSuccess(slot->id, slot->delayedSeq);
//
// A service that claims a command and neither answers nor defers it has its
// request answered `internal` by the session, with a log line.
#include <optional>

#include "asn1/modules/LGCP.h"

namespace CtrlSrv {

class Server;

// The sequence number a deferred answer must carry: none when the request
// had none, so the late answer never carries another request's number.
using DelayedSeq = std::optional<unsigned>;

class Service {
 public:
  Service() = default;
  Service(const Service&) = delete;
  Service& operator=(const Service&) = delete;
  // Leaves the session it is bound to.
  virtual ~Service();

  // The controller connected / the controller link has gone.
  virtual void OnConnect() = 0;
  virtual void OnDisconnect() = 0;
  // True claims the command (and the service answers it); false lets the
  // session offer it to the next service.
  virtual bool OnCommand(const LGCP::Command& command) = 0;
  // A signal another bound service sends, before the controller gets it.
  virtual void OnSignal(const LGCP::Signal& signal);

  // Answers the request being handled: at most one success and at most one
  // error per request, and no success after an error. The answer echoes the
  // request's seq and slot when it had them.
  void Success();
  void Error(LGCP::ErrorCause::NamedNumber cause);
  // Offers the signal to every other bound service, then sends it to the
  // controller without seq; it carries a slot only while a request that had
  // one is being handled.
  void SendSignal(const LGCP::Signal& signal);
  // The same, always carrying the given slot.
  void SendSignal(unsigned slot, const LGCP::Signal& signal);
  // The slot of the request being handled; all bits set when it had none.
  unsigned GetSlot() const;
  bool IsSlotPresent() const;
  // Marks the request being handled as answered later; the handle is its
  // seq, for delayedSuccess.
  DelayedSeq delayResponse();
  // A success carrying the given slot and, when present, the given seq.
  void delayedSuccess(unsigned slot, const DelayedSeq& seq);
  // False without a session or without a link; else whether the link is
  // connected.
  bool CheckServerConnection(bool& connected) const;

  Server* server() const { return server_; }

 private:
  friend class Server;
  // Reports a service used before it was bound; true when bound.
  bool bound() const;

  Server* server_ = nullptr;
};

}  // namespace CtrlSrv
