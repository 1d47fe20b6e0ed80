#pragma once
// Reads back the shape of a trap message, independently of the builder: a
// SEQUENCE of version, community and an SNMPv2-Trap PDU of request id,
// error status, error index and the binding list, each binding a SEQUENCE
// of an OBJECT IDENTIFIER and one value; every length covers exactly its
// content and the message exactly the octets given.
#include <cstddef>
#include <cstdint>
#include <vector>

namespace bertest {

struct Tlv {
  const std::uint8_t* start = nullptr;  // the tag
  std::uint8_t tag = 0;
  const std::uint8_t* content = nullptr;
  std::size_t length = 0;
};

// One element at p (before end); advances p past it. False when the
// element does not lie inside [p, end).
inline bool next(const std::uint8_t*& p, const std::uint8_t* end, Tlv* out) {
  if (end - p < 2) return false;
  out->start = p;
  out->tag = *p++;
  std::size_t n = *p++;
  if (n == 0x81 || n == 0x82) {
    const std::size_t bytes = n - 0x80;
    if (static_cast<std::size_t>(end - p) < bytes) return false;
    n = 0;
    for (std::size_t i = 0; i < bytes; ++i) n = n << 8 | *p++;
  } else if (n > 0x7F) {
    return false;
  }
  if (static_cast<std::size_t>(end - p) < n) return false;
  out->content = p;
  out->length = n;
  p += n;
  return true;
}

// The bindings of a whole message (name TLV, value TLV each), or false.
inline bool walk(const std::uint8_t* data, std::size_t size, std::vector<std::pair<Tlv, Tlv>>* bindings = nullptr) {
  const std::uint8_t* p = data;
  const std::uint8_t* end = data + size;
  Tlv message, version, community, pdu;
  if (!next(p, end, &message) || p != end || message.tag != 0x30) return false;
  p = message.content;
  end = p + message.length;
  if (!next(p, end, &version) || version.tag != 0x02 || !next(p, end, &community) || community.tag != 0x04 ||
      !next(p, end, &pdu) || pdu.tag != 0xA7 || p != end)
    return false;
  p = pdu.content;
  end = p + pdu.length;
  Tlv field, list;
  for (int i = 0; i < 3; ++i)
    if (!next(p, end, &field) || field.tag != 0x02) return false;
  if (!next(p, end, &list) || list.tag != 0x30 || p != end) return false;
  p = list.content;
  end = p + list.length;
  while (p != end) {
    Tlv binding, name, value;
    if (!next(p, end, &binding) || binding.tag != 0x30) return false;
    const std::uint8_t* q = binding.content;
    const std::uint8_t* bend = q + binding.length;
    if (!next(q, bend, &name) || name.tag != 0x06 || !next(q, bend, &value) || q != bend) return false;
    if (bindings) bindings->emplace_back(name, value);
  }
  return true;
}

}  // namespace bertest
