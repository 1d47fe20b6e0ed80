#include "links/isdn/tei_message.h"

namespace ISDN {

Packet TeiMessage::frame(Side::type from, std::uint16_t ri, unsigned ai, unsigned char type) {
  Packet f;
  f.reserve_head(0);
  unsigned char* b = f.put(8);
  b[0] = static_cast<unsigned char>(sapi << 2 | (from == Side::user ? 0 : 2));
  b[1] = static_cast<unsigned char>(group_tei << 1 | 1);
  b[2] = 0x03;
  b[3] = entity;
  b[4] = static_cast<unsigned char>(ri & 0xFF);
  b[5] = static_cast<unsigned char>(ri >> 8);
  b[6] = type;
  b[7] = static_cast<unsigned char>((ai & 0x7F) << 1 | 1);
  return f;
}

bool TeiMessage::parse(const Packet& info) {
  if (info.length() < 5 || info[0] != entity) return false;
  ri = static_cast<std::uint16_t>(info[1] | info[2] << 8);
  type = info[3];
  ai = info[4] >> 1;
  return true;
}

}  // namespace ISDN
