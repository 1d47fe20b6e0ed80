#pragma once
// Requests and event record of the tone processor driver (the device named
// by sysroot::dtmf), shared by the daemon and the simulated board.
//
// The codes are the board's own numbers (32-bit PowerPC encodings); they are
// never rebuilt with _IOW, which would give other numbers on the host.
// Records are native structs: the board is big-endian, so its driver reads
// them big-endian; neither side swaps bytes.
#include <cstddef>
#include <cstdint>

namespace Hardware {
namespace tonec {

// Requests whose argument is a record in memory.
constexpr unsigned long DTMF_CONFIGURE_DETECTOR = 0x40144202ul;  // dtmf_detector_config
constexpr unsigned long DTMF_ENABLE_DETECTOR = 0x40084203ul;     // dtmf_enable
constexpr unsigned long DTMF_DIAL = 0x400C4205ul;                // dtmf_dial (the tone generator)
constexpr unsigned long IVA_CONFIGURE_DETECTOR = 0x4008420Dul;   // iva_config
constexpr unsigned long SELCAL_DIAL = 0x400C420Eul;              // selcal_dial
// Requests that take the timeslot itself as their argument.
constexpr unsigned long DTMF_DISABLE_DETECTOR = 0x40044204ul;
constexpr unsigned long CHANNEL_LMS_ON = 0x40044206ul;
constexpr unsigned long CHANNEL_LMS_OFF = 0x40044207ul;
constexpr unsigned long DTMF_REJECTION_ENABLE = 0x40044209ul;
constexpr unsigned long DTMF_REJECTION_DISABLE = 0x4004420Aul;
constexpr unsigned long IVA_DETECTOR_ENABLE = 0x4004420Bul;
constexpr unsigned long IVA_DETECTOR_DISABLE = 0x4004420Cul;

struct dtmf_detector_config {
  std::uint32_t timeslot;
  std::uint32_t twist;
  std::uint32_t ratio;
  std::uint32_t silence;
  std::uint32_t noise;
};
static_assert(sizeof(dtmf_detector_config) == 20, "DTMF_CONFIGURE_DETECTOR takes 20 bytes");
static_assert(offsetof(dtmf_detector_config, silence) == 12 && offsetof(dtmf_detector_config, noise) == 16,
              "silence comes before noise");

struct dtmf_enable {
  std::uint32_t timeslot;
  std::uint32_t id;  // events of this enabling carry it
};
static_assert(sizeof(dtmf_enable) == 8, "DTMF_ENABLE_DETECTOR takes 8 bytes");

struct dtmf_dial {
  std::uint32_t timeslot;
  std::uint16_t freq1;  // Hz
  std::uint16_t freq2;
  std::uint16_t amp1;
  std::uint16_t amp2;
};
static_assert(sizeof(dtmf_dial) == 12, "DTMF_DIAL takes 12 bytes");
static_assert(offsetof(dtmf_dial, freq1) == 4 && offsetof(dtmf_dial, freq2) == 6 && offsetof(dtmf_dial, amp1) == 8 &&
                  offsetof(dtmf_dial, amp2) == 10,
              "DTMF_DIAL field offsets");

struct iva_config {
  std::uint32_t timeslot;
  std::int32_t det_lvl_dB;
};
static_assert(sizeof(iva_config) == 8, "IVA_CONFIGURE_DETECTOR takes 8 bytes");

struct selcal_dial {
  std::uint32_t timeslot;
  std::uint16_t amplitude;
  char signs[4];  // the first four signs, no terminator
  std::uint16_t zero;
};
static_assert(sizeof(selcal_dial) == 12, "SELCAL_DIAL takes 12 bytes");
static_assert(offsetof(selcal_dial, amplitude) == 4 && offsetof(selcal_dial, signs) == 6 &&
                  offsetof(selcal_dial, zero) == 10,
              "SELCAL_DIAL field offsets");

// One read of the device gives one event.
struct tonec_event {
  std::uint32_t code;
  std::uint32_t timeslot;
  std::uint32_t timestamp;
  std::uint32_t id;  // the id of the enabling the event belongs to
};
static_assert(sizeof(tonec_event) == 16, "tone events are 16 bytes");
static_assert(offsetof(tonec_event, timeslot) == 4 && offsetof(tonec_event, timestamp) == 8 &&
                  offsetof(tonec_event, id) == 12,
              "tone event field offsets");

}  // namespace tonec
}  // namespace Hardware
