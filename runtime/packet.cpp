#include "runtime/packet.h"

#include <cstdarg>
#include <cstdio>
#include <exception>
#include <iostream>

namespace {

const char upper_hex[] = "0123456789ABCDEF";

// " " and the byte in lower-case hexadecimal without leading zeros.
void put_short_hex(std::ostream& os, unsigned char b) {
  static const char lower_hex[] = "0123456789abcdef";
  os << ' ';
  if (b >= 0x10) os << lower_hex[b >> 4];
  os << lower_hex[b & 0xF];
}

}  // namespace

Packet_pool& packet_pool() {
  static Packet_pool pool;
  return pool;
}

bool Packet::make_unique() {
  if (!p_ || p_->ref_count <= 1) return true;
  _Packet* fresh = packet_pool().allocate();
  if (!fresh) return false;
  new (fresh) _Packet(*p_);
  fresh->ref_count = 1;
  --p_->ref_count;  // still held by the other sharers
  p_ = fresh;
  return true;
}

bool Packet::reserve_head_or_fail(unsigned len) {
  passert(len <= packet_max_size, "length>packet_max_size");
  if (!p_) {
    _Packet* b = packet_pool().allocate();
    if (!b) return false;
    b->ref_count = 1;
    b->fdata = b->ftail = b->fbuffer + len;
    p_ = b;
    passert(p_ != nullptr, "allocation fail");
    return true;
  }
  passert(p_->_headroom() + len <= packet_max_size, "new_len>packet_max_size");
  passert(len <= p_->_tailroom(), "len<=_tailroom()");
  if (!make_unique()) return false;
  p_->fdata += len;
  p_->ftail += len;
  return true;
}

bool Packet::renew_fresh() {
  *this = static_cast<_Packet*>(nullptr);
  return reserve_head_or_fail(0);
}

void Packet::reserve_tail(unsigned len) {
  passert(len <= packet_max_size, "len>packet_max_size");
  if (!p_) {
    _Packet* b = packet_pool().allocate();
    if (!b) throw std::bad_alloc();
    b->ref_count = 1;
    b->fdata = b->ftail = b->fbuffer + (packet_max_size - len);
    p_ = b;
    passert(p_ != nullptr, "allocation fail");
    return;
  }
  passert(p_->_tailroom() + len <= packet_max_size, "_tailroom()+len <= packet_max_size");
  passert(len <= p_->_headroom(), "len<=_headroom()");
  prepare_for_modify();
  p_->fdata -= len;
  p_->ftail -= len;
}

void Packet::put(const Packet& other) {
  passert(p_ != nullptr, "null packet");
  // Hold our own reference: appending a packet to itself must read the
  // window as it was, and copy on write keeps that one intact.
  Packet src(other);
  unsigned n = src.length();
  if (n == 0) return;
  std::memcpy(put(n), src.data(), n);
}

Packet Packet::with_headroom(unsigned len) const {
  if (headroom() >= len) return *this;
  Packet copy;
  copy.reserve_head(len);
  if (length()) std::memcpy(copy.put(length()), data(), length());
  return copy;
}

void Packet::put(const std::string& s) {
  passert(p_ != nullptr, "null packet");
  // The length travels in one byte; a longer string could not be read back.
  passert(s.size() <= 255, "s.size()<=255");
  put8(static_cast<unsigned char>(s.size()));
  if (!s.empty()) std::memcpy(put(unsigned(s.size())), s.data(), s.size());
}

std::string Packet::pull_string() {
  unsigned n = pull8();
  std::string s;
  s.reserve(n);
  for (unsigned i = 0; i < n; ++i) s.push_back(static_cast<char>(pull8()));
  return s;
}

Packet Packet::sub(unsigned len, unsigned start) const {
  passert(p_ != nullptr, "null packet");
  unsigned have = p_->_length();
  passert(start <= have, "start<=_length()");
  // Written as a difference so that a huge len cannot wrap the sum.
  passert(len <= have - start, "start+len<=_length()");
  Packet r;
  r.reserve_head(p_->_headroom() + start);
  if (len) std::memcpy(r.put(len), p_->fdata + start, len);
  return r;
}

std::string Packet::text() const {
  if (!p_) return "(null)";
  if (!p_->valid()) return "(bad)";
  unsigned n = p_->_length();
  std::string s;
  if (n == 0) return s;
  s.resize(n * 3 - 1);
  char* out = &s[0];
  for (unsigned i = 0; i < n; ++i) {
    unsigned char b = p_->fdata[i];
    if (i) *out++ = ' ';
    *out++ = upper_hex[b >> 4];
    *out++ = upper_hex[b & 0xF];
  }
  return s;
}

bool Packet::dump(std::ostream& os) const {
  if (!p_) return false;
  os << "head=" << p_->_headroom() << ", " << "data=" << p_->_length() << ", "
     << "tail=" << p_->_tailroom();
  return true;
}

bool Packet::dump_context(std::ostream& os) const {
  if (!p_ || !p_->valid()) return false;
  unsigned n = p_->_length();
  if (n == 0) return true;
  os << "dump:";
  for (unsigned i = 0; i < n; ++i) put_short_hex(os, p_->fdata[i]);
  return true;
}

void Packet::check_failed(const char* what) const {
  if (!p_) check_fail("after \"%s\" packet is null", what);
  const unsigned char* first = p_->fbuffer;
  const unsigned char* end = first + packet_max_size;
  if (p_->fdata < first || p_->fdata > end) check_fail("after \"%s\" fdata invalid", what);
  if (p_->ftail < first || p_->ftail > end) check_fail("after \"%s\" ftail invalid", what);
  check_fail("after \"%s\" fdata>ftail", what);
}

void Packet::check_fail(const char* format, ...) {
  char msg[256];
  va_list ap;
  va_start(ap, format);
  std::vsnprintf(msg, sizeof msg, format, ap);
  va_end(ap);
  std::clog << "packet check fail" << std::endl;
  std::clog << msg << std::endl;
  std::clog << "terminate." << std::endl;
  std::terminate();
}

void Packet::assertion_failed(const char* what) const {
  PacketInfo info(*this);
  std::clog << "PACKET ASSERTION FAILED!" << std::endl;
  std::clog << what << std::endl;
  info.put(std::clog);
  std::clog << std::endl;
  std::terminate();
}

PacketInfo::PacketInfo(const Packet& p) : null_(p.is_null()) {
  if (null_) return;
  const _Packet* b = p.get();
  head_ = b->fdata - b->fbuffer;
  length_ = b->ftail - b->fdata;
  tail_ = b->fbuffer + packet_max_size - b->ftail;
  bad_ = !b->valid();
  if (!bad_) bytes_.assign(b->fdata, b->ftail);
}

void PacketInfo::put(std::ostream& os) const {
  if (null_) {
    os << "(null)" << std::endl;
    return;
  }
  os << "head=" << head_ << ", " << "data=" << length_ << ", " << "tail=" << tail_ << std::endl;
  if (bad_) {
    os << "can't dump packet: wrong pointers" << std::endl;
    return;
  }
  if (bytes_.empty()) return;
  os << "dump:" << std::endl;
  for (unsigned char b : bytes_) put_short_hex(os, b);
  os << std::endl;
}
