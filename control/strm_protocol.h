#pragma once
// The bottom layer of every framed link: one connected, non-blocking stream
// socket. Each readiness report becomes one recv into a fresh pool packet,
// passed up whatever its size; packets sent down are written in a loop
// that may wait for room, at most 1000 ms per run of writes, holding the
// loop (the watchdog is fed around each wait).
//
// Any socket failure releases the socket first and then reports an error
// status up the stack, so no event ever arrives for a closed socket.
//
// Packets sent while one read is being handled upstairs (the answers to a
// peer that pipelines its requests) are held and written together, in one
// run of writes, when that read has been handled or sixteen are held: a
// burst of answers costs one system call and one segment instead of one
// each. Packets sent at any other time are written at once. The deadline
// is per run of writes.
#include <cstdint>
#include <iosfwd>
#include <string>
#include <vector>

#include "runtime/event.h"
#include "runtime/fd.h"
#include "runtime/measure.h"
#include "runtime/protocol.h"

// Non-zero: the destructor announces itself on the log stream.
extern int strm_protocol_debug;

class StrmProtocol : public Protocol {
 public:
  StrmProtocol();
  // Attaches a duplicate of fd.
  explicit StrmProtocol(const Fd& fd);
  ~StrmProtocol() override;

  // Releases any socket held, then keeps a duplicate of fd (unless it is the
  // one held already). The caller has made the socket non-blocking.
  void attach(const Fd& fd);
  // Stops watching the socket and closes it; idempotent.
  void release();
  bool attached() const { return fd_.valid(); }

  // One query each on the socket; failures read as 0.
  int sendbuf_space() const;
  int recvbuf_space() const;
  int inq_space() const;
  int outq_space() const;
  int free_space() const;

  void local_prepare_head(Packet& p) override;
  void local_prepare_tail(Packet& p) override;
  void local_activate() override;
  void local_deactivate() override;
  void message(Packet& p) override;

  void PutHeader(std::ostream& s) const;

  void set_connection_name(const std::string& name) { connection_name_ = name; }
  const std::string& connection_name() const { return connection_name_; }
  void set_debug(bool on) { debug_ = on; }
  Measure& read_measure() { return read_measure_; }
  Measure& write_measure() { return write_measure_; }
  std::uint32_t write_failures() const { return write_failures_; }

 private:
  void init();
  void on_event(int fd, short revents);
  void read_socket();
  void on_error(const std::string& text);
  // ", sendbuf=.., recvbuf=.., free=.., inq=.., outq=.."
  void put_queues(std::ostream& s) const;
  // Writes the packets held as one run of writes with one deadline. A
  // failure is logged and counted, and with report fails the layer.
  bool flush(bool report);

  Fd fd_;
  bool outq_reports_free_ = false;
  bool debug_ = false;
  std::string connection_name_;
  Event read_event_;
  Measure read_measure_;
  Measure write_measure_;
  std::uint32_t write_failures_ = 0;
  static constexpr std::size_t max_held = 16;
  bool receiving_ = false;    // a read is being handled upstairs
  std::vector<Packet> held_;  // written when that is done (or when full)
};
