#pragma once
// One connection of a PPP daemon's dial-in plug-in to the modem factory's
// authentication server. It reassembles the plug-in's records
// (modem_auth_records.h) from whatever segments they come in and hands each
// complete one to the factory; the factory sends the answers through it.
//
// A record whose length is below its 12-octet header or above 512 octets,
// or an authentication request or accounting record of any length but its
// own, closes the connection: nothing of it is delivered.
//
// The client is owned by the factory's list. A use count keeps it alive
// while its own handler or a send through it runs, since either may close
// it; once closed and unused, the factory removes and deletes it.
#include <cstddef>

#include "runtime/event.h"
#include "runtime/fd.h"
#include "runtime/inet4_addr.h"
#include "slots/modem_auth_records.h"

class ModemFactory;

class AuthClient {
 public:
  AuthClient(Fd socket, const INet4::Addr& peer, ModemFactory& factory);
  AuthClient(const AuthClient&) = delete;
  AuthClient& operator=(const AuthClient&) = delete;
  ~AuthClient();

  // Starts reading.
  void Activate();
  // True when the whole record was written; a failed write closes the
  // connection.
  bool Send(const modem_auth::attr& record);
  void OnSocketEvent(int fd, short revents);
  // Closes the socket and stops the watch.
  void OnDisconnect();
  // Closed and unused: the factory removes it.
  void CheckDisconnect();

  const INet4::Addr& peer() const { return peer_; }
  bool closed() const { return !socket_.valid(); }

  // Records read in one pass of the loop at most, so that a client that
  // never stops sending cannot hold the loop.
  static constexpr unsigned records_per_pass = 32;

 private:
  // Reads what has come; false when the connection has closed.
  bool Read();
  // The record in the buffer is complete: checks and delivers it.
  bool Complete();
  void Close(const std::string& why);

  Event event_;
  Fd socket_;
  INet4::Addr peer_;
  int use_ = 0;
  modem_auth::attr buffer_;
  std::size_t fill_ = 0;  // octets held
  std::size_t end_ = 4;   // octets the current read wants: the length word, then the whole record
  ModemFactory& factory_;
};
