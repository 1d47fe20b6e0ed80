#include "monitoring/cdr_sender.h"

#include <errno.h>
#include <sys/socket.h>

#include <cstring>
#include <iostream>
#include <sstream>

#include "runtime/ext_out.h"
#include "runtime/inet4_addr.h"

namespace CDR_Sender {

namespace {

// An address and a port, both whole: a word that does not read so would
// otherwise send to 0.0.0.0 or to a port cut from its text.
bool parse_destination(const std::string& word, INet4::Addr* to) {
  const std::size_t colon = word.find(':');
  if (colon == std::string::npos || colon + 1 == word.size() || word.size() - colon > 6) return false;
  unsigned long port = 0;
  for (std::size_t i = colon + 1; i < word.size(); ++i) {
    if (word[i] < '0' || word[i] > '9') return false;
    port = port * 10 + static_cast<unsigned long>(word[i] - '0');
  }
  if (port == 0 || port > 65535) return false;
  int parsed_port = -1;
  return to->Assign(word, &parsed_port) && parsed_port == static_cast<int>(port);
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
