#pragma once
// Framed service links: one stream connection carrying whole messages in
// TPKT frames, with one user that hears when the link comes up, when it
// goes down and of every message received.
//
// Control::Service is the stack (stream layer under TPKT) with a small
// state machine; subclasses decide how a connection is obtained (listening
// or connecting, TCP or Unix-domain). The user hears OnDisconnect only from
// the loop, one pass after the close, never from inside the read, write or
// Disconnect() call that closed the link:
//
//   class Session : public Control::Notify { ... };
//   Control::AcceptorNetCheckConnection* link = new Control::AcceptorNetCheckConnection(20001);
//   link->Bind(&session);
//   link->Activate();                       // listens; session.OnConnect() per peer
//   link->Send(payload.data(), payload.size());
#include <cstdint>
#include <string>

#include "runtime/dpc.h"
#include "runtime/fd.h"
#include "runtime/inet4_addr.h"
#include "runtime/protocol.h"

class Measure;
class StrmProtocol;

namespace Control {

// The user of a link.
class Notify {
 public:
  virtual ~Notify() = default;
  virtual void OnConnect() = 0;
  virtual void OnDisconnect() = 0;
  // One received message (a TPKT payload, maybe empty).
  virtual void OnMessage(const char* data, int length) = 0;
};

class Service : private ProtocolsFamily {
 public:
  struct State {
    enum Type : std::uint32_t { Idle = 0, Connecting = 1, Deactivating = 2, Connected = 3 };
  };

  ~Service() override;

  // Deactivate(), then Connecting and the subclass's activation; back to
  // Idle when that fails. Returns what the subclass returned.
  bool Activate();
  // Stops the subclass's work; state Idle. The user is not told.
  void Deactivate();
  // Takes the stack down; the close path then runs (log line, OnDisconnect
  // on the next pass). Nothing while Deactivating.
  void Disconnect();
  // Sends one message, only while Connected. A message longer than a TPKT
  // frame can carry is refused with a log line. Sends refused for want of a
  // connection (the status timers run on without a controller) are logged
  // once, at the first, and counted in one line when a peer connects.
  void Send(const char* data, int length);

  void Bind(Notify* user) { user_ = user; }
  void UnBind() { user_ = nullptr; }
  Notify* user() const { return user_; }

  // The stream layer's connection name, shown in its log prefix.
  const std::string& service_name() const;
  void service_name(const std::string& name);
  // The peer's address (or socket path) as text once connected.
  const std::string& GetName() const { return name_; }
  State::Type state() const { return state_; }

  Measure& get_read_measure();
  Measure& get_write_measure();
  std::uint32_t GetOverflowCounter() const;
  // Closes the connection's socket without any notification.
  void Release();

 protected:
  explicit Service(bool log);

  // Hands a connected socket to the stack (in Deactivating: ignored).
  void Attach(const Fd& fd, const std::string& name);
  bool log() const { return log_; }
  void set_state(State::Type s) { state_ = s; }

  virtual bool ImplActivate() = 0;
  virtual void ImplDeactivate() = 0;
  // The close path, on the loop pass after the link went down.
  virtual void ImplOnDisconnect() = 0;

 private:
  void on_message(Packet& p) override;
  void on_activated(Protocol* p) override;
  void on_deactivated(Protocol* p, Protocol_status status) override;
  void OnDeactivateDPC();

  std::string name_;
  bool log_;
  State::Type state_ = State::Idle;
  Notify* user_ = nullptr;
  // Sends refused since the last connection.
  std::uint64_t refused_ = 0;
  StrmProtocol* strm_;
  Dpc disconnect_;
};

// "Idle", "Connecting", "Deactivating", "Connected"; "Unknown" otherwise.
const char* GetTextNotation(Service::State::Type state);

// A TCP link: sets keep-alive and no-delay on each connection.
class ServiceNet : public Service {
 public:
  // Takes a connected socket (a duplicate is kept); in Deactivating it does
  // nothing and the caller's descriptor is simply closed by the caller.
  void Connected(const Fd& fd, const INet4::Addr& peer);
  const INet4::Addr& peer() const { return peer_; }

 protected:
  explicit ServiceNet(bool log) : Service(log) {}

 private:
  INet4::Addr peer_;
};

// A Unix-domain link: no socket options; the peer is named by its path.
class ServiceUnix : public Service {
 public:
  void Connected(const Fd& fd, const std::string& name);

 protected:
  explicit ServiceUnix(bool log) : Service(log) {}
};

}  // namespace Control
