#pragma once
// Call records: one text record sent as a UDP datagram to each address of a
// list.
#include <string>

#include "runtime/fd.h"

namespace CDR_Sender {

class Sender {
 public:
  // Opens the IPv4 datagram socket (close-on-exec); it stays closed when the
  // socket cannot be had.
  Sender();
  virtual ~Sender();
  Sender(const Sender&) = delete;
  Sender& operator=(const Sender&) = delete;

  // Sends record as one datagram to each destination, the words of
  // destinations ("a.b.c.d:port", separated by white space) in order. A
  // destination that is not four decimal octets, a colon and a port from 1
  // to 65535, or whose address is 0.0.0.0, is skipped with a line on the
  // log stream. True when the record went to
  // every destination (so also for none); false when the socket is closed,
  // a destination was skipped or a send failed.
  bool SendTo(const std::string& record, const std::string& destinations);

  bool is_open() const { return socket_.valid(); }

 private:
  Fd socket_;
};

}  // namespace CDR_Sender
