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
// controller. Against other local processes:
// - a session belongs to the first client that sends an authentication
//   request for it while its slot has a child running; while that client
//   stays connected, other clients' records for the session are refused,
//   and the slot's answers go to that client only;
// - session -1 (no modem) is never served either way;
// - clients are capped at the modem count + 4;
// - a server that cannot bind, or whose socket fails, says so on the error
//   stream and tries again every 5 s.
#include <cstdint>
#include <map>
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
  // Removes and deletes a closed client.
  void OnAuthSocketDisconnect(AuthClient* client);

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
  // Whether the client may send records for the session; an authentication
  // request makes it the session's holder when none holds it and the slot
  // has a child running.
  bool Admit(const modem_auth::attr& record, AuthClient& from, ModemSlot& slot);
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
  std::map<int, AuthClient*> holders_;  // session -> the client that holds it
};

std::ostream& operator<<(std::ostream& s, const ModemFactory& f);
