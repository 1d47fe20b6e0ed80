#pragma once
// TPKT framing (RFC 1006 section 6) above the stream layer: every message
// sent gets the header 03 00 len-hi len-lo (the length counts the header);
// the byte stream received is cut back into messages by a machine fed one
// octet at a time, so any split of the stream into reads, and any number of
// frames in one read, give the same messages.
//
// Bad input never fails the connection: octets before a header are skipped
// and logged as one line per run with their count (a run ends at the next
// header start, when the connection ends, or 3000 ms after it began, so a
// flood of junk costs a line every 3000 ms and not a line per octet), a bad
// reserved octet or a length below 4 restarts the search for a header, and
// a frame left incomplete for 3000 ms after its last octet is dropped. A frame whose length is 4 carries an empty message,
// delivered as soon as its header is read.
#include <cstdint>

#include "runtime/packet.h"
#include "runtime/protocol.h"
#include "runtime/timer.h"

class Tpkt_protocol : public Protocol {
 public:
  enum State { idle = 0, wait_r = 1, len_1 = 2, len_2 = 3, body = 4, ignore = 5 };

  // The header length, and the largest payload its 16-bit length can carry.
  static constexpr unsigned header_size = 4;
  static constexpr unsigned max_payload = 0xFFFF - header_size;
  // A frame still incomplete this long after its last octet is dropped; a
  // run of skipped octets is reported at the latest this long after it
  // began.
  static constexpr unsigned partial_timeout_ms = 3000;

  Tpkt_protocol() = default;
  ~Tpkt_protocol() override = default;

  void local_prepare_head(Packet& p) override;
  void local_prepare_tail(Packet& p) override;
  // Starts each connection with a clean machine; reports nothing upwards.
  void local_activate() override;
  void local_deactivate() override;
  // Frames one payload and passes it down. A payload the length field
  // cannot carry is refused with a log line.
  void message(Packet& p) override;
  void receive(Packet& p) override;

  void reset();
  State state() const { return state_; }
  bool timer_armed() const { return timer_.isSet(); }

 private:
  // The handler of the current state. Each consumes octets from
  // data[at..len) and advances at.
  void step(const unsigned char* data, unsigned len, unsigned& at);
  void receive_idle(const unsigned char* data, unsigned len, unsigned& at);
  void receive_wait_r(const unsigned char* data, unsigned len, unsigned& at);
  void receive_len_1(const unsigned char* data, unsigned len, unsigned& at);
  void receive_len_2(const unsigned char* data, unsigned len, unsigned& at);
  void receive_body(const unsigned char* data, unsigned len, unsigned& at);
  void receive_ignore(const unsigned char* data, unsigned len, unsigned& at);
  void deliver();
  // Logs the run of skipped octets, if any, and starts a new one.
  void report_skipped();
  void on_timeout(Timer*);
  void on_run_timeout(Timer*);
  void next_state(State s) { state_ = s; }

  std::uint32_t remaining_ = 0;
  // Either the partial-frame time-out or, in idle, the report of a run.
  Timer timer_;
  std::uint64_t skipped_ = 0;
  bool run_timed_ = false;
  State state_ = idle;
  Packet assembly_;
};
