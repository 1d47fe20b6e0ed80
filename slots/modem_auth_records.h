#pragma once
// The records of the PPP daemon's dial-in plug-in, which talks to the modem
// factory's authentication server over TCP on the local host. Every field
// is a 32-bit big-endian word on the wire, whatever the host's order:
//
//   offset 0  length   the whole record in octets, this word included
//          4  type     1 authentication request, 2 accept, 3 address,
//                      4 accounting
//          8  session  the modem number of the DSP modem slot
//
// An authentication request (140 octets) carries the user name and the
// password, 64 octets each from offset 12; an accounting record (64) the
// 64-bit counters of octets and packets sent and received, high word first,
// from offset 24, and the session time at 56. The daemon answers an
// authentication with an accept (16 octets, 1 at offset 12) and an address
// record (36: remote address, netmask, gateway and name server in network
// order from offset 16, the MTU at 32).
#include <netinet/in.h>

#include <cstddef>
#include <cstdint>
#include <string>

namespace modem_auth {

constexpr std::size_t header_size = 12;
// The longest record a client may send.
constexpr std::size_t max_size = 512;

enum Type : std::uint32_t { auth_request = 1, accept = 2, address = 3, accounting = 4 };
constexpr std::size_t auth_request_size = 140;
constexpr std::size_t accept_size = 16;
constexpr std::size_t address_size = 36;
constexpr std::size_t accounting_size = 64;
// Room for each text of an authentication request.
constexpr std::size_t text_size = 64;

// One record as it stands on the wire, in a buffer of the longest size.
class attr {
 public:
  attr() = default;
  // A record of the given length with its header.
  attr(std::uint32_t length, Type type, std::int32_t session);

  // The word at an offset (0 for a word past the buffer).
  std::uint32_t word(std::size_t offset) const;
  void set_word(std::size_t offset, std::uint32_t value);
  // Four octets as they are (an address already in network order).
  void set_octets(std::size_t offset, in_addr_t address);

  std::uint32_t length() const { return word(0); }
  std::uint32_t type() const { return word(4); }
  std::int32_t session() const { return static_cast<std::int32_t>(word(8)); }

  std::uint8_t* data() { return octets_; }
  const std::uint8_t* data() const { return octets_; }

 private:
  std::uint8_t octets_[max_size] = {};
};

// An authentication request's texts: each ends at its first zero octet and
// never runs past its 64 octets.
class voauth {
 public:
  explicit voauth(const attr& record) : record_(record) {}
  std::string username() const;
  std::string password() const;

 private:
  const attr& record_;
};

// An accounting record's counters.
class voacct {
 public:
  explicit voacct(const attr& record) : record_(record) {}
  std::uint64_t octets_sent() const { return wide(24); }
  std::uint64_t octets_received() const { return wide(32); }
  std::uint64_t packets_sent() const { return wide(40); }
  std::uint64_t packets_received() const { return wide(48); }
  std::uint32_t session_time() const { return record_.word(56); }

 private:
  std::uint64_t wide(std::size_t offset) const;
  const attr& record_;
};

// The daemon's answers to an authentication.
attr accept_record(std::int32_t session);
attr address_record(std::int32_t session, in_addr_t remote, in_addr_t netmask, in_addr_t gateway, in_addr_t dns,
                    std::uint32_t mtu);

}  // namespace modem_auth
