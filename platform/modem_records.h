#pragma once
// Requests and records of the modem driver "/dev/mctl" and of the board's
// point-to-point HDLC interfaces ("hdlc%d"), shared by the daemon and the
// simulated board (native byte order on both sides; request codes are the
// board's own numbers, plain codes without direction or size).
#include <cstddef>
#include <cstdint>

namespace mctl {

// Requests with a ModemRequest record {modem, argument}.
constexpr unsigned long answer = 0xBB03ul;         // {modem, -1}: answer the incoming call
constexpr unsigned long originate = 0xBB04ul;      // {modem, -1}: place a call
constexpr unsigned long set_ddm = 0xBB16ul;        // {modem, mask of DdmBit}: digital data modes
constexpr unsigned long reset_dmp = 0xBB3Aul;      // {modem, -1}: data-mode parameters to their defaults
constexpr unsigned long fax_originate = 0xBB40ul;  // {modem, -1}: place a fax call
// With a DmpParam record: one data-mode parameter.
constexpr unsigned long set_dmp = 0xBB38ul;
// By value.
constexpr unsigned long allocate = 0xBB0Bul;   // 0: binds a free modem to the descriptor; its number as the result
constexpr unsigned long enumerate = 0xBB0Cul;  // previous number (-1 to begin): the next one; ENODEV past the last
constexpr unsigned long timeslot = 0xBB15ul;   // 0: the TDM channel of the descriptor's modem as the result

enum DdmBit : std::int32_t { ddm_v110 = 1, ddm_8bit = 2, ddm_7bit = 4 };

struct ModemRequest {
  std::int32_t modem;
  std::int32_t arg;
};
static_assert(sizeof(ModemRequest) == 8 && offsetof(ModemRequest, modem) == 0 && offsetof(ModemRequest, arg) == 4,
              "modem request record");

struct DmpParam {
  std::int32_t modem;
  std::int32_t offset;
  std::int32_t value;
};
static_assert(sizeof(DmpParam) == 12 && offsetof(DmpParam, modem) == 0 && offsetof(DmpParam, offset) == 4 &&
                  offsetof(DmpParam, value) == 8,
              "data-mode parameter record");

}  // namespace mctl

namespace wan {

// What SIOCWANDEV with IF_GET_IFACE writes to its answer buffer on a board
// interface: 32 words, the fourth the TDM channel of the interface.
struct IfaceInfo {
  std::int32_t words[32];
};
constexpr std::size_t channel_word = 3;
static_assert(sizeof(IfaceInfo) == 128 && offsetof(IfaceInfo, words) + channel_word * 4 == 12, "interface record");

// The settings that go with IF_PROTO_PPP and IF_PROTO_HDLC: one word.
struct ProtoSettings {
  std::int32_t value;
};
static_assert(sizeof(ProtoSettings) == 4, "protocol settings");

}  // namespace wan
