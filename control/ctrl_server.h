#pragma once
// The controller session: the daemon's end of the management channel and
// the user of the controller link. Each received payload is decoded as one
// LGCP::Message in aligned PER; a command is offered to the bound services
// in bind order until one claims it, and the session makes sure that every
// command is answered exactly as the envelope rules say:
//
//   - a payload that does not decode gets no answer, only a log line;
//   - a response or signal from the controller: error unexpectedMsgType;
//   - a slot above 1023: error invalidSlot, without slot, offered to nobody;
//   - a command nobody claims: error unexpectedMsgType;
//   - claimed but unanswered: error internal, with a log line;
//   - answers echo seq and slot when the request had them; signals never
//     carry seq.
//
// The entry binds the services once at start-up and hands the session its
// link (which it owns from then on):
//
//   ctrlServer.Bind(HeartBeatCtl::instance());
//   ctrlServer.Bind(&Slots::instance());
//   ...
//   ctrlServer.Activate(new Control::AcceptorNetCheckConnection(port));
//   multiplexer.run(true, true);
//   ctrlServer.Deactivate();
#include <cstdint>
#include <iosfwd>
#include <vector>

#include "asn1/modules/LGCP.h"
#include "control/control_service.h"
#include "control/ctrl_service.h"
#include "runtime/timer.h"

namespace CtrlSrv {

class Server : public Control::Notify {
 public:
  Server() = default;
  Server(const Server&) = delete;
  Server& operator=(const Server&) = delete;
  ~Server() override;

  // Appends the service to the dispatch order.
  void Bind(Service* service);
  // Deactivate(), then owns the link, names it "server", becomes its user
  // and activates it.
  bool Activate(Control::Service* link);
  // Deactivates and deletes the link; every service hears OnDisconnect.
  void Deactivate();

  void Success();
  void Error(LGCP::ErrorCause::NamedNumber cause);
  void SendSignal(const LGCP::Signal& signal);
  void SendSignal(unsigned slot, const LGCP::Signal& signal);
  DelayedSeq delayResponse();
  void delayedSuccess(unsigned slot, const DelayedSeq& seq);
  bool IsSlotPresent() const { return slot_ != -1; }
  unsigned GetSlot() const { return static_cast<unsigned>(slot_); }
  bool CheckServerConnection(bool& connected) const;
  // The heartbeat ran out: the controller link is closed.
  void OnHeartbeatTimeout();

  void OnConnect() override;
  void OnDisconnect() override;
  void OnMessage(const char* data, int length) override;

  void PutHeader(std::ostream& s) const;
  const std::vector<Service*>& services() const { return services_; }
  Control::Service* link() const { return link_; }

  // What a slot number may be at most.
  static constexpr unsigned max_slot = 1023;

 private:
  friend class Service;
  void Unbind(Service* service);
  void Handle(const LGCP::Message& message);
  // The envelope of an answer to the request being handled.
  void Reply(LGCP::Message& message);
  void SendMsg(const LGCP::Message& message);
  void OnUpdateAvgStat(Timer*);

  enum ReplyState : std::uint32_t { none = 0, answered = 1, failed = 2 };

  std::vector<Service*> services_;
  Control::Service* link_ = nullptr;
  bool seq_present_ = false;
  std::uint32_t seq_ = 0;
  std::int32_t slot_ = -1;
  ReplyState reply_ = none;
  Timer stat_timer_;
};

}  // namespace CtrlSrv

// The daemon's one controller session.
extern CtrlSrv::Server ctrlServer;
