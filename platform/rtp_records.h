#pragma once
// Records of the RTP drivers ("/dev/rtp", "/dev/rtp_ext") shared by the
// daemon and the simulated board: native structs in the processor's byte
// order (big-endian on the board), neither side swaps.
#include <cstddef>
#include <cstdint>

// Requests on an RTP session descriptor (one open of "/dev/rtp" is one
// session): the board's own numbers, PowerPC encodings written out.
namespace rtpdrv {
constexpr unsigned long begin_session = 0xC02C5200ul;  // rtp_connection_params
constexpr unsigned long add_channel = 0xC0105202ul;    // rtp_channel_info, tdm filled in
constexpr unsigned long input_start = 0x20005204ul;    // no argument
constexpr unsigned long input_stop = 0x20005205ul;     // no argument
// The three requests of a release, in this order: the session's streams
// stop, the session ends, the channel leaves it. No argument.
constexpr unsigned long stop_session = 0x2000520Aul;
constexpr unsigned long end_session = 0x20005203ul;
constexpr unsigned long remove_channel = 0x2000520Bul;
constexpr unsigned long pd_enable = 0xC024520Cul;  // rtp_pd_params
constexpr unsigned long pd_reset = 0x8004520Dul;   // std::uint32_t, holds 1
// Event types read from a session.
constexpr std::uint32_t event_pd = 1;
}  // namespace rtpdrv

// The session record (begin session, request 0xC02C5200).
struct rtp_connection_params {
  std::uint32_t remote_addr;  // network order
  std::uint16_t remote_port;
  std::uint16_t pad0;
  std::uint32_t local_addr;  // network order
  std::uint16_t local_port;
  std::uint16_t rx_pt;
  std::uint16_t tx_pt;
  std::uint16_t packet_factor;
  std::uint8_t vad;
  std::uint8_t crate;
  std::uint16_t pad1;
  std::uint32_t ssrc;
  std::uint8_t reserved[8];
  std::uint32_t ttl;
  std::int32_t tos;
};
static_assert(sizeof(rtp_connection_params) == 44, "rtp_connection_params size");
static_assert(offsetof(rtp_connection_params, rx_pt) == 14 && offsetof(rtp_connection_params, tx_pt) == 16 &&
                  offsetof(rtp_connection_params, packet_factor) == 18 && offsetof(rtp_connection_params, vad) == 20 &&
                  offsetof(rtp_connection_params, ssrc) == 24 && offsetof(rtp_connection_params, ttl) == 36 &&
                  offsetof(rtp_connection_params, tos) == 40,
              "rtp_connection_params offsets");

// The channel record (add channel, request 0xC0105202).
struct rtp_channel_info {
  std::int32_t tdm;
  std::int32_t dev_no;
  std::int32_t chn;
  std::int32_t reserved;
};
static_assert(sizeof(rtp_channel_info) == 16 && offsetof(rtp_channel_info, chn) == 8, "rtp_channel_info");

// Switches packet detection on: the time-out given twice, the other words 0.
struct rtp_pd_params {
  std::uint32_t type;  // rtpdrv::event_pd
  std::uint32_t value;
  std::int32_t timeout;
  std::uint32_t reserved1[2];
  std::int32_t timeout_again;
  std::uint32_t reserved2[3];
};
static_assert(sizeof(rtp_pd_params) == 36 && offsetof(rtp_pd_params, timeout) == 8 &&
                  offsetof(rtp_pd_params, timeout_again) == 20,
              "rtp_pd_params");

// An RTP session to attach to: its descriptor number and owning process.
struct rtp_attach_session_params {
  std::int32_t fd_rtp;
  std::int32_t pid_rtp;
};
static_assert(sizeof(rtp_attach_session_params) == 8 && offsetof(rtp_attach_session_params, pid_rtp) == 4,
              "rtp_attach_session_params");

struct rtp_ext_attach_session_params {
  std::int32_t fd_rtp;
  std::int32_t pid_rtp;
};
static_assert(sizeof(rtp_ext_attach_session_params) == 8 && offsetof(rtp_ext_attach_session_params, pid_rtp) == 4,
              "rtp_ext_attach_session_params");

// Initialises an extension session (request 0xC0144500): the header
// extension identifier first; the rest is the factories' and the driver's.
struct rtp_ext_init_params {
  std::uint16_t etype;
  std::uint16_t fill0;
  std::uint32_t fill[4];
};
static_assert(sizeof(rtp_ext_init_params) == 20 && offsetof(rtp_ext_init_params, etype) == 0,
              "rtp_ext_init_params");

// One event read from a session descriptor. Type 1 is a packet-detection
// event: its value and its time-out; the words after them are the driver's.
struct rtp_event {
  std::uint32_t type;
  std::int32_t value;
  std::int32_t timeout;
  std::uint32_t reserved[6];
};
static_assert(sizeof(rtp_event) == 36 && offsetof(rtp_event, value) == 4 && offsetof(rtp_event, timeout) == 8,
              "rtp_event");
