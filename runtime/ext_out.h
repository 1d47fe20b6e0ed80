#pragma once
// Small stream formatters shared by every trace line:
//   std::clog << ext::header(this) << "frame " << ext::OutBufInHex(p, n) << std::endl;
// ext::header(obj) writes obj->PutHeader(stream) (each tracing class defines
// `void PutHeader(std::ostream&) const`, writing e.g. "isdn-slot[3]: ").
#include <cstddef>
#include <cstdint>
#include <ostream>

namespace ext {

template <class T>
struct OutObjHeader {
  const T* obj;
};

template <class T>
OutObjHeader<T> header(const T* obj) {
  return OutObjHeader<T>{obj};
}

template <class T>
std::ostream& operator<<(std::ostream& s, const OutObjHeader<T>& h) {
  h.obj->PutHeader(s);
  return s;
}

// The value in double quotes, written with its own output operator.
template <class T>
struct OutQuoted {
  const T* value;
};

template <class T>
OutQuoted<T> quoted(const T& value) {
  return OutQuoted<T>{&value};
}

template <class T>
std::ostream& operator<<(std::ostream& s, const OutQuoted<T>& q) {
  return s << '"' << *q.value << '"';
}

// Bytes as upper-case hex pairs, each followed by a blank ("0A FF ").
class OutBufInHex {
 public:
  OutBufInHex(const void* first, const void* end)
      : first_(static_cast<const std::uint8_t*>(first)), end_(static_cast<const std::uint8_t*>(end)) {}
  OutBufInHex(const void* data, std::size_t len)
      : first_(static_cast<const std::uint8_t*>(data)), end_(first_ + len) {}
  void Put(std::ostream& s) const;

 private:
  const std::uint8_t* first_;
  const std::uint8_t* end_;
};

// "0x" and the value in upper-case hex, zero-padded to width digits.
class OutUnsignedInHex {
 public:
  OutUnsignedInHex(std::uint32_t value, int width) : value_(value), width_(width) {}
  void Put(std::ostream& s) const;

 private:
  std::uint32_t value_;
  int width_;
};

inline std::ostream& operator<<(std::ostream& s, const OutBufInHex& h) {
  h.Put(s);
  return s;
}

inline std::ostream& operator<<(std::ostream& s, const OutUnsignedInHex& h) {
  h.Put(s);
  return s;
}

}  // namespace ext
