#pragma once
// One connection of a PPP daemon's dial-in plug-in to the modem factory's
// authentication server. It reassembles the plug-in's records
// (modem_auth_records.h) from whatever segments they come in and hands each
// complete one to the factory; the factory sends the answers through it.
//
// A record whose length is below its 12-octet header or above 512 octets,
// or an authentication request or accounting record of any length but its
// own, closes the connection: nothing of it is delivered. So does silence:
// a client that has not completed a record first_record_ms after it was
// accepted is closed, unless it turns out to be a modem's own.
//
// The factory binds the connection to the modem slot whose program holds
// its other end (modem_factory.h); only a bound client is served. Records
// it refuses are counted, and each kind of refusal is said once, so that a
// client cannot flood the log.
//
// The client is owned by the factory's list. A use count keeps it alive
// while its own handler or a send through it runs, since either may close
// it; once closed and unused, the factory removes and deletes it.
#include <cstddef>
#include <string>

#include "runtime/event.h"
#include "runtime/fd.h"
#include "runtime/inet4_addr.h"
#include "runtime/timer.h"
#include "slots/modem_auth_records.h"

class ModemFactory;
class ModemSlot;

class AuthClient {
 public:
  // How long a new client may take to complete its first record.
  static constexpr unsigned first_record_ms = 10000;
  // Records read in one pass of the loop at most, so that a client that
  // never stops sending cannot hold the loop.
  static constexpr unsigned records_per_pass = 32;

  // The kinds of refused records, each said once a client.
  enum Refusal : unsigned {
    other_session = 1u << 0,
    unknown_session = 1u << 1,
    accept_record = 1u << 2,
    address_record = 1u << 3,
    unknown_type = 1u << 4,
  };

  AuthClient(Fd socket, const INet4::Addr& peer, ModemFactory& factory);
  AuthClient(const AuthClient&) = delete;
  AuthClient& operator=(const AuthClient&) = delete;
  ~AuthClient();

  // Starts reading, and the wait for the first record.
  void Activate();
  // True when the whole record was written; a failed write closes the
  // connection.
  bool Send(const modem_auth::attr& record);
  void OnSocketEvent(int fd, short revents);
  // Closes the socket and stops the watch.
  void OnDisconnect();
  // Closed and unused: the factory removes it.
  void CheckDisconnect();
  // Closes the connection with one line that says why.
  void Close(const std::string& why);

  // Serves the connection for the slot from now on.
  void Bind(ModemSlot& slot);
  // The slot the connection belongs to; null until bound.
  ModemSlot* slot() const { return slot_; }
  // Whether the client was ever bound to a slot.
  bool served() const { return served_; }
  // No modem's program held the connection when asked. That is final: a
  // program holds its socket from before it connects, and a program a
  // slot starts later cannot hold a socket a stranger made.
  void MarkStranger() { stranger_ = true; }
  bool stranger() const { return stranger_; }
  // Counts a refused record; true when it is the first of its kind, which
  // is then said.
  bool Refuse(Refusal kind);
  unsigned refused() const { return refused_; }

  const INet4::Addr& peer() const { return peer_; }
  int fd() const { return socket_.get(); }
  bool closed() const { return !socket_.valid(); }

 private:
  // Reads what has come; false when the connection has closed.
  bool Read();
  // The record in the buffer is complete: checks and delivers it.
  bool Complete();
  void OnFirstRecordTimeout();

  Event event_;
  Fd socket_;
  INet4::Addr peer_;
  int use_ = 0;
  modem_auth::attr buffer_;
  std::size_t fill_ = 0;  // octets held
  std::size_t end_ = 4;   // octets the current read wants: the length word, then the whole record
  ModemFactory& factory_;
  Timer firstRecord_;
  ModemSlot* slot_ = nullptr;
  bool served_ = false;
  bool stranger_ = false;
  unsigned said_ = 0;  // the kinds of refusal already said
  unsigned refused_ = 0;
};
