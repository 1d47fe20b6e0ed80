#pragma once
// The factory of the modem slots (factory name "Modem"), for the create
// alternative `modem`. It keeps the modem slots (all of them in creation
// order, the DSP ones and the digital ones), counts the driver's modems and
// the free point-to-point interfaces for the resource report, lends an
// interface to each digital modem, and runs the authentication server of
// the PPP daemon's dial-in plug-in.
//
// Authentication server: TCP on 127.0.0.1 port 52000. Each connection
// (AuthClient) carries the plug-in's records; a record goes to the modem
// slot of its session (the modem number), which sends it on to the
// controller. The plug-in runs inside the program a modem slot starts (its
// PPP daemon or fax program), and nothing else on the host is served:
// - at its first complete record a connection is bound to the modem slot
//   whose running program, or a process that program started, holds the
//   connection's other end; a connection that none holds is closed then,
//   with one line;
// - a bound connection is served for its slot's session only: records
//   naming another session, accounting included, are refused; the slot's
//   answers go to its own connection;
// - a connection that no modem's program holds and that completes no
//   record within 10 s is closed (a plug-in may connect well before its
//   daemon has a user to authenticate: its own connection waits);
// - session -1 (no modem) is never served either way;
// - clients are capped at the modem count + 4; when the cap is reached,
//   a client that no modem's program holds is closed to make room;
// - refused records are counted and each kind is said once a connection;
// - a server that cannot bind, or whose socket fails, says so on the error
//   stream and tries again every 5 s.
#include <sys/types.h>

#include <cstdint>
#include <functional>
#include <memory>
#include <ostream>
#include <string>
#include <vector>

#include "runtime/event.h"
#include "runtime/fd.h"
#include "runtime/timer.h"
#include "slots/modem_auth_records.h"
#include "slots/slot_factory.h"

class AuthClient;
class DspModemSlot;
class HdlcModemSlot;
class ModemSlot;

class ModemFactory : public SlotFactory {
 public:
  static constexpr unsigned short auth_port = 52000;
  static constexpr unsigned retry_ms = 5000;
  // Clients beyond the modem count that the server takes.
  static constexpr unsigned spare_clients = 4;

  // The process's factory, serving on auth_port.
  static ModemFactory& instance();
  // A factory whose server listens on the given port of 127.0.0.1 (0: one
  // the system picks, for tests).
  explicit ModemFactory(unsigned short port);
  ~ModemFactory() override;

  const char* GetName() const override { return "Modem"; }
  Slot* INewSlot(const LGCP::CreateParams& params) override;
  void Query(LGCP::Resources& resources) override;
  void IQuery();

  void ReleaseModemSlot(DspModemSlot* slot);
  void ReleaseModemSlot(HdlcModemSlot* slot);
  ModemSlot* FindModemByDsp(int id) const;

  // The authentication server.
  void Init();
  void OnSocketEvent(int fd, short revents);
  // A complete record from a client.
  void OnAuth(const modem_auth::attr& record, AuthClient& from);
  // Sends a record to the client that holds its session; false when none
  // does or the send failed.
  bool SendAuth(const modem_auth::attr& record);
  // Binds the client to the modem slot whose running program holds its
  // other end; false when none does.
  bool Claim(AuthClient& client);
  // Removes and deletes a closed client.
  void OnAuthSocketDisconnect(AuthClient* client);

  // Of the candidate processes, the one that holds the other end of the
  // connection accepted on fd; -1 for none. The system's answer unless a
  // test puts its own.
  using PeerCheck = std::function<pid_t(int fd, const std::vector<pid_t>& candidates)>;
  void set_peer_check(PeerCheck check) { peerCheck_ = std::move(check); }

  // The port the server listens on; 0 while it is off.
  unsigned short listening_port() const;
  std::uint32_t modem_count() const { return modemCount_; }
  const std::vector<std::string>& free_interfaces() const { return freeInterfaces_; }
  std::size_t clients() const { return clients_.size(); }
  const std::vector<ModemSlot*>& modem_slots() const { return modemSlots_; }

  // "modem[count,slots]: ", the prefix of the factory's lines.
  void Put(std::ostream& s) const;

 private:
  void update_modemDevices();
  void update_hdlcDevices();
  // The server is off: tries again later.
  void RetryLater(const std::string& why);
  void OnRetry();
  // The modem slot whose running program holds the client's other end;
  // null for none.
  ModemSlot* OwnerOf(const AuthClient& client) const;
  // The clients are at their cap: binds those that a modem's program holds
  // and closes the oldest of the others. Whether there is room now.
  bool MakeRoom();
  // Closes the clients bound to a slot that goes.
  void CloseClientsOf(const ModemSlot* slot);
  void say(const std::string& text) const;

  std::vector<DspModemSlot*> dspSlots_;
  std::vector<HdlcModemSlot*> hdlcSlots_;
  std::vector<ModemSlot*> modemSlots_;
  std::uint32_t modemCount_ = 0;
  Fd authSocket_;
  Event authEvent_;
  std::vector<std::unique_ptr<AuthClient>> clients_;
  std::vector<std::string> freeInterfaces_;

  const unsigned short port_;
  Timer retry_;
  std::string lastFailure_;  // the failure last reported, so a retry repeats none
  PeerCheck peerCheck_;
};

std::ostream& operator<<(std::ostream& s, const ModemFactory& f);
