#include "runtime/inet4_addr.h"

#include <arpa/inet.h>

#include <cstdlib>
#include <cstring>
#include <ostream>
#include <sstream>

namespace INet4 {

static_assert(sizeof(sockaddr_in) == 16, "an address is the system's 16-byte IPv4 socket address");

void Addr::Reset() {
  std::memset(&sa_, 0, sizeof sa_);
  sa_.sin_family = AF_INET;
}

bool Addr::Assign(const char* text, int* port) {
  const char* colon = std::strchr(text, ':');
  std::string host;
  if (colon) {
    const int number = static_cast<int>(std::strtol(colon + 1, nullptr, 10));
    sa_.sin_port = htons(static_cast<unsigned short>(number & 0xFFFF));
    if (port) *port = number;
    host.assign(text, colon);
  } else {
    if (port) *port = -1;
    host = text;
  }
  in_addr parsed;
  if (::inet_aton(host.c_str(), &parsed) == 0) return false;
  sa_.sin_addr = parsed;
  return true;
}

bool Addr::Assign(const std::string& text, int* port) { return Assign(text.c_str(), port); }

void Addr::Assign(unsigned long address) { sa_.sin_addr.s_addr = static_cast<in_addr_t>(address); }

bool Addr::IsEqual(const Addr& other) const {
  return sa_.sin_addr.s_addr == other.sa_.sin_addr.s_addr && sa_.sin_port == other.sa_.sin_port;
}

unsigned short Addr::port() const { return ntohs(sa_.sin_port); }

void Addr::Put(std::ostream& s) const {
  char text[INET_ADDRSTRLEN];
  ::inet_ntop(AF_INET, &sa_.sin_addr, text, sizeof text);
  s << text << ':' << std::dec << port();
}

std::string Addr::GetString() const {
  std::ostringstream s;
  Put(s);
  return s.str();
}

std::vector<char> Addr::GetVector() const {
  const char* bytes = reinterpret_cast<const char*>(&sa_.sin_addr.s_addr);
  return std::vector<char>(bytes, bytes + 4);
}

std::ostream& operator<<(std::ostream& s, const Addr& a) {
  a.Put(s);
  return s;
}

bool ParsePort(const std::string& text, unsigned short* port) {
  if (text.empty() || text.size() > 5) return false;
  unsigned long number = 0;
  for (char c : text) {
    if (c < '0' || c > '9') return false;
    number = number * 10 + static_cast<unsigned long>(c - '0');
  }
  if (number == 0 || number > 65535) return false;
  if (port) *port = static_cast<unsigned short>(number);
  return true;
}

}  // namespace INet4
