#include "slots/rtpc.h"

#include <algorithm>
#include <cstring>

namespace RTPC {

namespace {

constexpr unsigned header_size = 4;
constexpr unsigned ssrc_size = 4;
constexpr unsigned max_text = 255;

unsigned align4(unsigned n) { return (n + 3) & ~3u; }

}  // namespace

void Msg::put_ssrc(char* p) const {
  p[0] = static_cast<char>(ssrc_ >> 24);
  p[1] = static_cast<char>(ssrc_ >> 16);
  p[2] = static_cast<char>(ssrc_ >> 8);
  p[3] = static_cast<char>(ssrc_);
}

unsigned Msg::encode(char* buf, unsigned size) const {
  if (size < header_size + ssrc_size) return 0;
  const unsigned body = encode_body(buf + header_size, size - header_size);
  // A packet without its body (or with one the header cannot describe)
  // would be malformed: nothing is sent instead.
  if (body == 0 || body % 4 != 0 || body > size - header_size) return 0;
  const unsigned total = header_size + body;
  const unsigned words = total / 4 - 1;
  buf[0] = static_cast<char>(0x80 | (count() & 31));
  buf[1] = static_cast<char>(pt());
  buf[2] = static_cast<char>(words >> 8);
  buf[3] = static_cast<char>(words);
  return total;
}

unsigned SDES::encode_body(char* p, unsigned size) const {
  // The chunk is the SSRC, the items and at least one null octet (the end
  // of the list), padded to a multiple of four (RFC 3550, 6.5).
  if (size < ssrc_size + 4) return 0;
  put_ssrc(p);
  unsigned at = ssrc_size;
  for (const Item& item : items_) {
    const unsigned length = static_cast<unsigned>(std::min<std::size_t>(item.text.size(), max_text));
    if (align4(at + 2 + length + 1) > size) break;
    p[at++] = static_cast<char>(item.type);
    p[at++] = static_cast<char>(length);
    std::memcpy(p + at, item.text.data(), length);
    at += length;
  }
  const unsigned end = align4(at + 1);
  std::memset(p + at, 0, end - at);
  return end;
}

unsigned BYE::encode_body(char* p, unsigned size) const {
  if (size < ssrc_size) return 0;
  put_ssrc(p);
  // A reason takes its length octet and its text, padded to a multiple of
  // four; it is cut to the room left in whole words.
  const unsigned room = (size & ~3u) - ssrc_size;
  if (reason_.empty() || room < 4) return ssrc_size;
  const unsigned length = static_cast<unsigned>(std::min<std::size_t>({reason_.size(), max_text, room - 1}));
  p[ssrc_size] = static_cast<char>(length);
  std::memcpy(p + ssrc_size + 1, reason_.data(), length);
  const unsigned end = align4(ssrc_size + 1 + length);
  std::memset(p + ssrc_size + 1 + length, 0, end - (ssrc_size + 1 + length));
  return end;
}

}  // namespace RTPC
