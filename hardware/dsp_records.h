#pragma once
// Requests and event record of the voice-processing DSP driver (the device
// named by sysroot::dsp), shared by the daemon and the simulated board.
//
// The codes are the board's own numbers (32-bit PowerPC encodings), never
// rebuilt with _IOW. Records are native structs read big-endian by the
// board's driver; neither side swaps bytes.
#include <cstddef>
#include <cstdint>

// Event payloads handed to the receivers' owners as they are in the record.
struct dsproc_bss_event {
  float score;
};
struct dsproc_flags_event {
  std::uint32_t flags;
  std::uint32_t mask;  // which bits of flags are valid
};
// The payload of a tone-filter event; its owner interprets it.
struct dsproc_tone_event {
  std::uint32_t frequency;
  std::uint32_t presence;
  std::uint32_t reserved;
};
static_assert(sizeof(float) == 4, "the BSS score is a single-precision float");
static_assert(sizeof(dsproc_flags_event) == 8, "flags payload");
static_assert(sizeof(dsproc_tone_event) == 12, "tone payload fills the event's payload");

namespace Hardware {
namespace dsproc {

constexpr unsigned long DSPROC_CONFIGURE = 0x40146401ul;  // configure (by kind)
constexpr unsigned long DSPROC_ENABLE = 0x400C6402ul;     // feature (with id and mask)
constexpr unsigned long DSPROC_DISABLE = 0x400C6403ul;    // feature (id 0)
constexpr unsigned long DSPROC_VAD_VERSION = 0x40046404ul;  // by value 0; the result is the version

// Configure kinds.
constexpr std::uint32_t KIND_VAD = 1;
constexpr std::uint32_t KIND_SD = 2;
constexpr std::uint32_t KIND_DELAYS = 32;
constexpr std::uint32_t KIND_RX_GAIN = 64;
constexpr std::uint32_t KIND_TONE_FILTER = 256;

// Feature mask bits of enable and disable.
constexpr std::uint32_t FEATURE_VAD = 0x1;
constexpr std::uint32_t FEATURE_SD = 0x2;
constexpr std::uint32_t FEATURE_RX_MUTE = 0x4;
constexpr std::uint32_t FEATURE_TX_MUTE = 0x8;
constexpr std::uint32_t FEATURE_BSS = 0x10;
constexpr std::uint32_t FEATURE_NG = 0x80;
constexpr std::uint32_t FEATURE_TONE_ALL = 0x100;
constexpr std::uint32_t FEATURE_SELCAL_SH = 0x400;

// Event types.
constexpr std::uint32_t EVENT_VAD = 1;
constexpr std::uint32_t EVENT_SD = 2;
constexpr std::uint32_t EVENT_BSS = 16;
constexpr std::uint32_t EVENT_TONE = 256;
constexpr std::uint32_t EVENT_FLAGS = 512;

// The VAD parameter layout of driver version 2.
constexpr int VAD_VERSION_2 = 2;

struct vad_v2_params {
  std::uint16_t voice_th_msec;
  std::uint16_t silence_th_msec;
  std::uint8_t e_th_dB;
  std::uint8_t unused[7];
};
// Every other VAD version: two fixed words.
struct vad_fixed_params {
  std::uint32_t word1;  // 3
  std::uint32_t word2;  // 127
  std::uint32_t unused;
};
struct delay_params {
  std::uint32_t rx;
  std::uint32_t tx;
  std::uint32_t selcal;
};
struct rx_gain_params {
  std::int8_t gain_dB;
  std::uint8_t unused[11];
};
struct tone_filter_params {
  std::uint16_t freq;
  std::uint8_t enable;
  std::uint8_t unused1;
  std::uint16_t dur_th_msec;
  std::int8_t det_lvl_dB;
  std::uint8_t unused2[5];
};

struct dsproc_configure {
  std::uint32_t timeslot;
  std::uint32_t kind;
  union Params {
    std::uint8_t raw[12];  // zero where a kind sets nothing
    vad_v2_params vad_v2;
    vad_fixed_params vad_fixed;
    delay_params delays;
    rx_gain_params rx_gain;
    tone_filter_params tone_filter;
  } params;
};
static_assert(sizeof(dsproc_configure) == 20, "DSPROC_CONFIGURE takes 20 bytes");
static_assert(offsetof(dsproc_configure, params) == 8, "parameters start at 8");
static_assert(offsetof(vad_v2_params, silence_th_msec) == 2 && offsetof(vad_v2_params, e_th_dB) == 4,
              "VAD v2: u16 at 8, u16 at 10, u8 at 12");
static_assert(offsetof(vad_fixed_params, word2) == 4, "VAD fixed: u32 at 8 and 12");
static_assert(offsetof(delay_params, tx) == 4 && offsetof(delay_params, selcal) == 8, "delays at 8, 12, 16");
static_assert(offsetof(tone_filter_params, enable) == 2 && offsetof(tone_filter_params, dur_th_msec) == 4 &&
                  offsetof(tone_filter_params, det_lvl_dB) == 6,
              "tone filter: u16 at 8, u8 at 10, u16 at 12, i8 at 14");

struct dsproc_feature {
  std::uint32_t timeslot;
  std::uint32_t id;    // 0 in a disable
  std::uint32_t mask;  // FEATURE_ bits
};
static_assert(sizeof(dsproc_feature) == 12, "DSPROC_ENABLE and DSPROC_DISABLE take 12 bytes");

struct vad_payload {
  std::uint32_t dir_mask;  // bit 0: rx carries a value, bit 1: tx does
  std::int32_t rx;
  std::int32_t tx;
};
struct sd_payload {
  std::int32_t value;
  std::uint8_t unused[8];
};

// One read of the device gives one event.
struct dsproc_event {
  std::uint32_t timeslot;
  std::uint32_t id;
  std::uint32_t type;  // EVENT_
  union Payload {
    std::uint8_t raw[12];
    vad_payload vad;
    sd_payload sd;
    ::dsproc_bss_event bss;
    ::dsproc_flags_event flags;
    ::dsproc_tone_event tone;
  } payload;
};
static_assert(sizeof(dsproc_event) == 24, "DSP events are 24 bytes");
static_assert(offsetof(dsproc_event, id) == 4 && offsetof(dsproc_event, type) == 8 &&
                  offsetof(dsproc_event, payload) == 12,
              "DSP event field offsets");
static_assert(offsetof(vad_payload, rx) == 4 && offsetof(vad_payload, tx) == 8, "VAD payload offsets");

}  // namespace dsproc
}  // namespace Hardware
