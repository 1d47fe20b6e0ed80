#pragma once
// Pooled, reference-counted, copy-on-write packet buffers.
//
// A Packet is a handle on a 64 KiB buffer in which the payload is a window
// with head room in front and tail room behind: a layer pushes its header
// into the head room, appends trailers and payload into the tail room, and
// strips a received header by pulling it off the front. Copies of a handle
// share the buffer until one of them writes; that one gets a private copy of
// the window first. Multi-byte values are assembled one byte at a time, so
// the wire order never depends on the host's.
//
// Broken preconditions (too little room, too short, null handle) are
// programming errors: they print "PACKET ASSERTION FAILED!" with the failed
// condition and a dump of the packet, and terminate. Callers test length()
// and the rooms first. The one- and two-byte pulls never fail: bytes past
// the end read as 0. An empty pool throws std::bad_alloc, except through
// try_reserve_head, which receive paths use to drop a frame instead.
#include <cstdint>
#include <cstring>
#include <iosfwd>
#include <new>
#include <string>
#include <vector>

#include "runtime/packet_pool.h"
#include "runtime/smart_pointer.h"

constexpr unsigned packet_max_size = 0x10000;

// The buffer. Only Packet handles touch its window.
class _Packet {
 public:
  // Count 0, empty window at the very end (head room is everything).
  _Packet() : ref_count(0), fdata(fbuffer + packet_max_size), ftail(fdata) {}
  // Count 0, the window at the same offsets, and only the window's bytes.
  _Packet(const _Packet& o)
      : ref_count(0),
        fdata(fbuffer + (o.fdata - o.fbuffer)),
        ftail(fdata + (o.ftail - o.fdata)) {
    std::memcpy(fdata, o.fdata, o._length());
  }
  _Packet& operator=(const _Packet&) = delete;

  unsigned _headroom() const { return unsigned(fdata - fbuffer); }
  unsigned _length() const { return unsigned(ftail - fdata); }
  unsigned _tailroom() const { return unsigned(fbuffer + packet_max_size - ftail); }
  // Handles holding this buffer.
  std::uint32_t references() const { return ref_count; }

  // start <= data <= tail <= end.
  bool valid() const {
    return fdata >= fbuffer && fdata <= fbuffer + packet_max_size && ftail >= fbuffer &&
           ftail <= fbuffer + packet_max_size && fdata <= ftail;
  }

 private:
  friend class Smart_pointer<_Packet>;
  friend class PacketInfo;

  std::uint32_t ref_count;
  unsigned char* fdata;
  unsigned char* ftail;
  unsigned char fbuffer[packet_max_size];
};

template <>
class Smart_pointer<_Packet> {
 public:
  Smart_pointer() = default;
  explicit Smart_pointer(_Packet* p) : p_(p) { acquire(p_); }
  Smart_pointer(const Smart_pointer& o) : p_(o.p_) { acquire(p_); }
  ~Smart_pointer() { drop(p_); }

  Smart_pointer& operator=(const Smart_pointer& o) { return *this = o.p_; }
  Smart_pointer& operator=(_Packet* p) {
    if (p != p_) {
      _Packet* old = p_;
      p_ = p;
      acquire(p_);
      drop(old);
    }
    return *this;
  }

  // Modifying access: a shared buffer is copied first.
  _Packet* operator->() {
    if (!p_) SmartPtrAssertion();
    prepare_for_modify();
    return p_;
  }
  // Reading access: never copies.
  const _Packet* operator->() const {
    if (!p_) SmartPtrAssertion();
    return p_;
  }

  _Packet* get() const { return p_; }
  bool is_null() const { return p_ == nullptr; }
  explicit operator bool() const { return p_ != nullptr; }

  // When the buffer is shared, replaces it by a private copy of its window.
  // Throws std::bad_alloc (handle unchanged) when the pool is empty.
  void prepare_for_modify() {
    if (p_ && p_->ref_count > 1 && !make_unique()) throw std::bad_alloc();
  }

  // Takes a buffer with `len` bytes of head room on a null handle, or moves
  // the window `len` bytes forward on a held one. Throws std::bad_alloc when
  // the pool is empty.
  void reserve_head(unsigned len) {
    if (!reserve_head_or_fail(len)) throw std::bad_alloc();
  }
  // The same, but an empty pool answers false (handle unchanged), for paths
  // that must drop a frame rather than end the daemon.
  bool try_reserve_head(unsigned len) { return reserve_head_or_fail(len); }
  // A handle on the same octets with at least `len` bytes of head room:
  // this one when it has them, else a copy in a fresh buffer (which throws
  // std::bad_alloc when the pool is empty).
  Smart_pointer with_headroom(unsigned len) const;
  // Takes a buffer with `len` bytes of tail room on a null handle, or moves
  // the window `len` bytes back on a held one.
  void reserve_tail(unsigned len);
  // Makes the handle an empty window at the start of a buffer, to be filled
  // anew: the buffer it holds when no other handle shares it (one just used,
  // still in the cache, where the pool hands out the one freed longest ago),
  // else a fresh one. False, and a null handle, when the pool is empty.
  bool try_renew() {
    if (p_ && p_->ref_count == 1) {
      p_->fdata = p_->ftail = p_->fbuffer;
      return true;
    }
    return renew_fresh();
  }

  unsigned length() const { return p_ ? p_->_length() : 0; }
  unsigned headroom() const { return p_ ? p_->_headroom() : 0; }
  unsigned tailroom() const { return p_ ? p_->_tailroom() : 0; }
  // First byte of the window, for reading (null for a null handle).
  const unsigned char* data() const { return p_ ? p_->fdata : nullptr; }

  // Appends `len` bytes and returns where they start; the caller fills them.
  unsigned char* put(unsigned len) {
    _Packet* b = writable();
    passert(len <= b->_tailroom(), "len<=_tailroom()");
    unsigned char* at = b->ftail;
    b->ftail += len;
    check("put");
    return at;
  }
  void put8(unsigned char v) { *put(1) = v; }
  void put16_b(unsigned short v) {
    put8(static_cast<unsigned char>(v >> 8));
    put8(static_cast<unsigned char>(v));
  }
  void put16(unsigned short v) {
    put8(static_cast<unsigned char>(v));
    put8(static_cast<unsigned char>(v >> 8));
  }
  // Appends the window of `other` (nothing for a null one).
  void put(const Smart_pointer& other);
  // Appends a length byte, then the bytes of `s` (at most 255 of them).
  void put(const std::string& s);

  // Prepends `len` bytes and returns where they start; the caller fills them.
  unsigned char* push(unsigned len) {
    _Packet* b = writable();
    passert(len <= b->_headroom(), "len<=_headroom()");
    b->fdata -= len;
    check("push");
    return b->fdata;
  }
  void push8(unsigned char v) { *push(1) = v; }
  // The window then starts with v in big-endian order.
  void push16_b(unsigned short v) {
    push8(static_cast<unsigned char>(v));
    push8(static_cast<unsigned char>(v >> 8));
  }

  // Removes `len` bytes from the front and returns where they were.
  const unsigned char* pull(unsigned len) {
    _Packet* b = writable();
    passert(len <= b->_length(), "len<=_length()");
    const unsigned char* at = b->fdata;
    b->fdata += len;
    return at;
  }
  // Removes `len` bytes from the end.
  void cut(unsigned len) {
    _Packet* b = writable();
    passert(len <= b->_length(), "len<=_length()");
    b->ftail -= len;
  }
  // The first byte, or 0 (and no change) when the window is empty.
  unsigned char pull8() {
    passert(p_ != nullptr, "null packet");
    if (p_->fdata == p_->ftail) return 0;
    _Packet* b = writable();
    return *b->fdata++;
  }
  unsigned short pull16_b() {
    unsigned hi = pull8();
    unsigned lo = pull8();
    return static_cast<unsigned short>(hi << 8 | lo);
  }
  unsigned short pull16_l() {
    unsigned lo = pull8();
    unsigned hi = pull8();
    return static_cast<unsigned short>(hi << 8 | lo);
  }
  // A length byte n, then n bytes; missing bytes read as NUL.
  std::string pull_string();

  unsigned char operator[](unsigned i) const {
    passert(p_ != nullptr, "null packet");
    passert(i < p_->_length(), "index out of range");
    return p_->fdata[i];
  }

  // A new packet with a buffer of its own holding `len` bytes of this window
  // from offset `start`, placed at the same offsets.
  Smart_pointer sub(unsigned len, unsigned start) const;

  // Trace form: "01 AB"; "" when empty, "(null)", or "(bad)".
  std::string text() const;
  // "head=H, data=L, tail=T"; false (and nothing) for a null handle.
  bool dump(std::ostream& os) const;
  // "dump: 1 ab" (lower-case, no leading zeros); false for a null handle or
  // broken pointers.
  bool dump_context(std::ostream& os) const;

  void check(const char* what) const {
    if (!p_ || !p_->valid()) check_failed(what);
  }
  [[noreturn]] static void check_fail(const char* format, ...)
      __attribute__((format(printf, 1, 2)));
  void passert(bool ok, const char* what) const {
    if (!ok) assertion_failed(what);
  }

 private:
  static void acquire(_Packet* p) {
    if (p) ++p->ref_count;
  }
  static void drop(_Packet* p) {
    if (p && --p->ref_count == 0) packet_pool().deallocate(p);
  }

  // Null check, then copy on write.
  _Packet* writable() {
    passert(p_ != nullptr, "null packet");
    prepare_for_modify();
    return p_;
  }
  bool make_unique();
  bool reserve_head_or_fail(unsigned len);
  bool renew_fresh();
  [[noreturn]] void check_failed(const char* what) const;
  [[noreturn]] void assertion_failed(const char* what) const;

  _Packet* p_ = nullptr;
};

typedef Smart_pointer<_Packet> Packet;

// Snapshot of a packet for an assertion report.
class PacketInfo {
 public:
  explicit PacketInfo(const Packet& p);
  void put(std::ostream& os) const;

 private:
  bool null_;
  bool bad_ = false;
  long head_ = 0;
  long length_ = 0;
  long tail_ = 0;
  std::vector<unsigned char> bytes_;
};
