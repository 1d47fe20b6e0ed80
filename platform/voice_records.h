#pragma once
// Requests and records of the voice driver (sysroot::voice) that the daemon
// and the simulated board share. Native structs in the processor's byte
// order; request codes are the board's own numbers (PowerPC encodings),
// written out literally.
#include <cstddef>
#include <cstdint>

namespace voicedrv {

// The DSP channels of one codec kind: the record holds the kind, the
// request's result is the count.
constexpr unsigned long channel_count = 0x40045602ul;  // std::uint32_t kind
// The driver's version record.
constexpr unsigned long get_version = 0x4014560Aul;  // Version

// Codec kinds of channel_count.
constexpr std::uint32_t kind_g711 = 1;
constexpr std::uint32_t kind_g723 = 2;
constexpr std::uint32_t kind_g729 = 4;
constexpr std::uint32_t kind_g711_mcc = 8;
constexpr std::uint32_t kind_universal = 65;

struct Version {
  std::uint32_t words[5];
};
static_assert(sizeof(Version) == 20 && offsetof(Version, words[4]) == 16, "voice version record");

}  // namespace voicedrv
