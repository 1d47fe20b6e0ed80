#pragma once
// The controller end of one LGCP connection, on the daemon's own runtime:
// the TPKT link connects out, every message is written and read in aligned
// PER, and each one sent or received is printed in value notation on one
// line with a time stamp:
//
//   22:14:05.117 > { seq 7, pdu command : ping : NULL }
//   22:14:05.118 < { seq 7, pdu response : success : NULL }
//
// Responses are kept in arrival order for expectations; signals are only
// printed.
#include <cstdint>
#include <deque>
#include <iosfwd>
#include <string>

#include "asn1/modules/LGCP.h"
#include "control/connector_net.h"

namespace lgcpctl {

// Value notation on one line: runs of blanks and line ends outside quoted
// strings become one blank.
std::string OneLine(const std::string& valueNotation);
// "HH:MM:SS.mmm" of the wall clock.
std::string TimeStamp();

class Client : public Control::Notify {
 public:
  Client(const std::string& host, unsigned short port, std::ostream& out);
  ~Client() override;

  // Runs the loop until connected; false after wait_ms without.
  bool Connect(unsigned wait_ms);
  // Sends one message given in value notation; false (with a line on the
  // error stream) when it does not parse or encode.
  bool Send(const std::string& valueNotation);
  // Waits up to ms for the next response not yet taken and compares it with
  // the expected value. False on a different response, a time-out or a
  // lost connection, each reported on the error stream.
  bool Expect(const std::string& valueNotation, unsigned ms);
  // Prints what arrives for ms (or until the connection is lost).
  void Listen(unsigned ms);
  // One pass of the loop, waiting at most ms.
  void Pump(unsigned ms);

  bool connected() const { return connected_; }
  bool lost() const { return lost_; }
  std::uint32_t sent_commands() const { return sent_commands_; }
  std::uint32_t responses() const { return responses_; }

  void OnConnect() override;
  void OnDisconnect() override;
  void OnMessage(const char* data, int length) override;

 private:
  Control::ConnectorNet link_;
  std::ostream& out_;
  std::deque<LGCP::Message> pending_;  // responses not yet taken
  bool connected_ = false;
  bool lost_ = false;
  std::uint32_t sent_commands_ = 0;
  std::uint32_t responses_ = 0;
};

}  // namespace lgcpctl
