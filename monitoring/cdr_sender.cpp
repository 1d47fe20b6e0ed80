#include "monitoring/cdr_sender.h"

#include <arpa/inet.h>
#include <errno.h>
#include <sys/socket.h>

#include <cstdint>
#include <cstring>
#include <iostream>
#include <sstream>

#include "runtime/ext_out.h"
#include "runtime/inet4_addr.h"

namespace CDR_Sender {

namespace {

// Four decimal octets, each of one to three digits and at most 255 (never
// the short, octal or hexadecimal forms inet_aton also reads), into a
// host-order number.
bool parse_dotted_quad(const std::string& text, std::uint32_t* address) {
  std::uint32_t value = 0;
  std::size_t at = 0;
  for (int octet = 0; octet < 4; ++octet) {
    if (octet > 0 && (at >= text.size() || text[at++] != '.')) return false;
    unsigned number = 0;
    std::size_t digits = 0;
    for (; at < text.size() && text[at] >= '0' && text[at] <= '9'; ++at, ++digits)
      number = number * 10 + static_cast<unsigned>(text[at] - '0');
    if (digits == 0 || digits > 3 || number > 255) return false;
    value = value << 8 | number;
  }
  if (at != text.size()) return false;
  *address = value;
  return true;
}

// An address and a port, both whole: a word that does not read so would
// otherwise send to 0.0.0.0 or to a port cut from its text.
bool parse_destination(const std::string& word, INet4::Addr* to) {
  const std::size_t colon = word.find(':');
  if (colon == std::string::npos) return false;
  std::uint32_t address = 0;
  unsigned short port = 0;
  if (!parse_dotted_quad(word.substr(0, colon), &address) || !INet4::ParsePort(word.substr(colon + 1), &port))
    return false;
  to->Assign(static_cast<unsigned long>(htonl(address)));
  to->sockaddr().sin_port = htons(port);
  return true;
}

}  // namespace

Sender::Sender() : socket_(::socket(AF_INET, SOCK_DGRAM | SOCK_CLOEXEC, 0)) {}

Sender::~Sender() = default;

bool Sender::SendTo(const std::string& record, const std::string& destinations) {
  if (!socket_.valid()) return false;
  bool all = true;
  std::istringstream words(destinations);
  for (std::string word; words >> word;) {
    INet4::Addr to;
    if (!parse_destination(word, &to)) {
      std::clog << "cdr: destination " << ext::quoted(word) << " is no address:port; skipped" << std::endl;
      all = false;
      continue;
    }
    // The kernel takes 0.0.0.0 for this very host: no destination means it.
    if (to.sockaddr().sin_addr.s_addr == htonl(INADDR_ANY)) {
      std::clog << "cdr: destination " << ext::quoted(word) << " names no host; skipped" << std::endl;
      all = false;
      continue;
    }
    const ssize_t sent = ::sendto(socket_.get(), record.data(), record.size(), 0,
                                  reinterpret_cast<const sockaddr*>(&to.sockaddr()), sizeof to.sockaddr());
    if (sent != static_cast<ssize_t>(record.size())) {
      std::clog << "cdr: sending to " << to << " failed: " << std::strerror(errno) << std::endl;
      all = false;
    }
  }
  return all;
}

}  // namespace CDR_Sender
