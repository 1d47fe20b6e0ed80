#include "slots/modem_auth_records.h"

#include <cstring>

namespace modem_auth {

attr::attr(std::uint32_t length, Type type, std::int32_t session) {
  set_word(0, length);
  set_word(4, type);
  set_word(8, static_cast<std::uint32_t>(session));
}

std::uint32_t attr::word(std::size_t offset) const {
  if (offset > max_size - 4) return 0;
  const std::uint8_t* p = octets_ + offset;
  return std::uint32_t(p[0]) << 24 | std::uint32_t(p[1]) << 16 | std::uint32_t(p[2]) << 8 | p[3];
}

void attr::set_word(std::size_t offset, std::uint32_t value) {
  if (offset > max_size - 4) return;
  std::uint8_t* p = octets_ + offset;
  p[0] = static_cast<std::uint8_t>(value >> 24);
  p[1] = static_cast<std::uint8_t>(value >> 16);
  p[2] = static_cast<std::uint8_t>(value >> 8);
  p[3] = static_cast<std::uint8_t>(value);
}

void attr::set_octets(std::size_t offset, in_addr_t address) {
  if (offset <= max_size - sizeof address) std::memcpy(octets_ + offset, &address, sizeof address);
}

namespace {

std::string text(const attr& record, std::size_t offset) {
  const char* first = reinterpret_cast<const char*>(record.data() + offset);
  return std::string(first, ::strnlen(first, text_size));
}

}  // namespace

std::string voauth::username() const { return text(record_, 12); }
std::string voauth::password() const { return text(record_, 12 + text_size); }

std::uint64_t voacct::wide(std::size_t offset) const {
  return std::uint64_t(record_.word(offset)) << 32 | record_.word(offset + 4);
}

attr accept_record(std::int32_t session) {
  attr r(accept_size, accept, session);
  r.set_word(12, 1);
  return r;
}

attr address_record(std::int32_t session, in_addr_t remote, in_addr_t netmask, in_addr_t gateway, in_addr_t dns,
                    std::uint32_t mtu) {
  attr r(address_size, address, session);
  r.set_word(12, 0);
  r.set_octets(16, remote);
  r.set_octets(20, netmask);
  r.set_octets(24, gateway);
  r.set_octets(28, dns);
  r.set_word(32, mtu);
  return r;
}

}  // namespace modem_auth
