#include "control/tpkt_protocol.h"

#include <algorithm>
#include <cstring>
#include <iostream>

#include "runtime/profile.h"

void Tpkt_protocol::local_prepare_head(Packet& p) { p.reserve_head(header_size); }

void Tpkt_protocol::local_prepare_tail(Packet& p) { p.reserve_tail(0); }

void Tpkt_protocol::local_activate() { reset(); }

void Tpkt_protocol::local_deactivate() {
  reset();
  on_deactivate(Protocol_status(new Protocol_status_success(this, "TPKT deactivated")));
}

void Tpkt_protocol::reset() {
  report_skipped();
  timer_.reset();
  assembly_ = nullptr;
  next_state(idle);
}

void Tpkt_protocol::message(Packet& p) {
  static Profile::Point point("Tpkt_protocol::message");
  if (p.length() > max_payload) {
    // The 16-bit length would wrap and desynchronise the peer.
    std::clog << "TPKT message too long, length = " << p.length() << " max = " << max_payload << std::endl;
    return;
  }
  point.begin();
  p.push16_b(static_cast<unsigned short>(p.length() + header_size));
  p.push8(0x00);
  p.push8(0x03);
  point.end();
  transmit(p);
}

void Tpkt_protocol::receive(Packet& p) {
  const unsigned char* data = p.data();
  const unsigned len = p.length();
  unsigned at = 0;
  while (at < len) step(data, len, at);
  // The time-out counts from the last octet received; a run of skipped
  // octets is timed from its first.
  if (state_ != idle) {
    timer_.set(partial_timeout_ms, &Tpkt_protocol::on_timeout, this);
  } else if (skipped_ == 0) {
    timer_.reset();
  } else if (!run_timed_) {
    timer_.set(partial_timeout_ms, &Tpkt_protocol::on_run_timeout, this);
    run_timed_ = true;
  }
}

void Tpkt_protocol::step(const unsigned char* data, unsigned len, unsigned& at) {
  switch (state_) {
    case idle:
      return receive_idle(data, len, at);
    case wait_r:
      return receive_wait_r(data, len, at);
    case len_1:
      return receive_len_1(data, len, at);
    case len_2:
      return receive_len_2(data, len, at);
    case body:
      return receive_body(data, len, at);
    case ignore:
      return receive_ignore(data, len, at);
  }
}

// Everything up to the next 0x03 is skipped in one step.
void Tpkt_protocol::receive_idle(const unsigned char* data, unsigned len, unsigned& at) {
  const void* start = std::memchr(data + at, 0x03, len - at);
  const unsigned end = start ? static_cast<unsigned>(static_cast<const unsigned char*>(start) - data) : len;
  skipped_ += end - at;
  at = end;
  if (!start) return;
  ++at;
  report_skipped();
  next_state(wait_r);
}

// The layer has no name of its own: the lines of bad octets begin with the
// default one, "(no name)".
void Tpkt_protocol::report_skipped() {
  run_timed_ = false;
  if (skipped_ == 0) return;
  std::clog << name().name() << " bad TPKT packet start. " << skipped_ << (skipped_ == 1 ? " octet" : " octets")
            << " skipped." << std::endl;
  skipped_ = 0;
}

void Tpkt_protocol::receive_wait_r(const unsigned char* data, unsigned, unsigned& at) {
  if (data[at++] == 0x00) {
    next_state(len_1);
  } else {
    std::clog << name().name() << " bad TPKT reserved." << std::endl;
    next_state(idle);
  }
}

void Tpkt_protocol::receive_len_1(const unsigned char* data, unsigned, unsigned& at) {
  remaining_ = data[at++];
  next_state(len_2);
}

void Tpkt_protocol::receive_len_2(const unsigned char* data, unsigned, unsigned& at) {
  remaining_ = remaining_ * 256 + data[at++];
  if (remaining_ < header_size) {
    std::clog << "TPKT too small " << remaining_ << std::endl;
    next_state(idle);
    return;
  }
  remaining_ -= header_size;
  assembly_ = nullptr;
  if (!assembly_.try_reserve_head(0)) {
    std::clog << "TPKT receive drop: packet pool empty, frame of " << remaining_ << " octets lost" << std::endl;
    next_state(remaining_ > 0 ? ignore : idle);
    return;
  }
  if (remaining_ > assembly_.tailroom()) {
    std::clog << "TPKT length too big, received = " << remaining_ << " max = " << assembly_.tailroom() << std::endl;
    assembly_ = nullptr;
    next_state(ignore);
    return;
  }
  next_state(body);
  if (remaining_ == 0) deliver();
}

void Tpkt_protocol::receive_body(const unsigned char* data, unsigned len, unsigned& at) {
  const unsigned n = std::min<std::uint32_t>(len - at, remaining_);
  std::copy(data + at, data + at + n, assembly_.put(n));
  at += n;
  remaining_ -= n;
  if (remaining_ == 0) deliver();
}

void Tpkt_protocol::receive_ignore(const unsigned char*, unsigned len, unsigned& at) {
  const unsigned n = std::min<std::uint32_t>(len - at, remaining_);
  at += n;
  remaining_ -= n;
  if (remaining_ == 0) next_state(idle);
}

// The machine is idle before the payload leaves, so whatever the receiver
// does meanwhile (answer, disconnect) finds it in a clean state.
void Tpkt_protocol::deliver() {
  Packet done = assembly_;
  assembly_ = nullptr;
  next_state(idle);
  on_message(done);
}

void Tpkt_protocol::on_timeout(Timer*) {
  std::clog << " TPKT packet timeout." << std::endl;
  reset();
}

// The run goes on: it is reported so far, and what follows starts another.
void Tpkt_protocol::on_run_timeout(Timer*) { report_skipped(); }
