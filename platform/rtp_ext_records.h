#pragma once
// Requests and records of the RTP extension driver (sysroot::rtp_ext), and
// the request of the RTP driver that attaches an extension to an RTP
// session, shared by the daemon and the simulated board. Records are native
// structs in the processor's byte order (big-endian on the board); request
// codes are the board's own numbers, never rebuilt with _IO/_IOWR.
//
// One descriptor is one extension session: initialise it first, then join
// it to an RTP session (or not), ask for the next payload's origin before
// each read; one read is one payload, one write sends one.
#include <cstddef>
#include <cstdint>

#include "platform/rtp_records.h"

namespace rtp_ext {

// The largest payload one read returns or one write sends.
constexpr std::size_t max_payload = 1024;

// 'E' requests on an extension session.
constexpr unsigned long INIT_SESSION = 0xC0144500ul;    // rtp_ext_init_params; the first request
constexpr unsigned long ATTACH_SESSION = 0xC0084501ul;  // rtp_ext_attach_session_params
constexpr unsigned long DETACH_SESSION = 0x20004502ul;  // no argument (the attach record is passed)
constexpr unsigned long PACKET_INFO = 0xC00C4503ul;     // rtp_ext_packet_info; > 0: information returned
constexpr unsigned long SET_FILTER = 0xC0084504ul;      // rtp_ext_filter
constexpr unsigned long RESET_FILTER = 0x20004505ul;    // no argument (the filter record is passed)

// 'R' request on an RTP session: attaches it to another RTP session's
// extension (rtp_attach_session_params).
constexpr unsigned long RTP_ATTACH_SESSION = 0xC0085209ul;

// Header-extension identifiers the factories give in the init record.
constexpr std::uint16_t vesk_identifier = 4919;  // 0x1337
constexpr std::uint16_t ed137_identifier = 359;  // 0x0167

// A process id in an attach record that names the caller itself.
constexpr std::int32_t caller_pid = -1;

}  // namespace rtp_ext

// Where the payload the next read returns came from.
struct rtp_ext_packet_info {
  std::uint32_t ssrc;  // SSRC of its RTP session
  std::uint32_t addr;  // IPv4 source address of that session, network order
  std::uint32_t reserved;
};
static_assert(sizeof(rtp_ext_packet_info) == 12 && offsetof(rtp_ext_packet_info, addr) == 4,
              "rtp_ext_packet_info");

// The access filter: the one session address accepted.
struct rtp_ext_filter {
  std::uint32_t filter_addr;  // IPv4 address, network order
  std::uint32_t zero;         // always 0
};
static_assert(sizeof(rtp_ext_filter) == 8 && offsetof(rtp_ext_filter, zero) == 4, "rtp_ext_filter");
