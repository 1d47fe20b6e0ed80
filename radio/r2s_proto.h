#pragma once
// r2s_proto: the radio signalling of the ED-137 RTP header extension (radio
// part), in memory and on the wire. Plain functions over one fixed-size
// record; no I/O, no state, no allocation.
//
// A record has a direction:
//   tx (type 1)  operator position to radio: PTT type, PTT id, mute, summation;
//                feature blocks CLIMAX time delay, RRC, RRM.
//   rx (type 2)  radio to operator positions: the tx fields plus SQU and SCT;
//                feature blocks SQI, RRC (short or long form), MAM.
//
// Building and sending (what the ED-137 radio control does):
//
//   r2s_proto rec;
//   r2s_proto_init(&rec, r2s_proto_type_rx);
//   r2s_proto_set_rx_header(&rec, ptt_type, squ, ptt_id, mute, summation, sct);
//   r2s_proto_add_rx_sqi(&rec, quality, method);
//   unsigned char buf[1024];
//   int n = r2s_proto_pack(&rec, buf, sizeof buf);   // bytes, or < 0
//
// Receiving: r2s_proto_init the record, then r2s_proto_unpack_tx (or _rx)
// it from the payload; read rec.tx (rec.rx) and the entries
// rec.additionals[0 .. additionals_count - 1] through the view of their kind.
//
// Results: a byte count or 0 for success; r2s_proto_missing (-7) for a
// missing record or buffer, r2s_proto_uncodable (-8) for a record that
// cannot be coded (a type other than tx and rx, or an rx RRC entry whose
// form is neither 0 nor 1), r2s_proto_too_short (-9) for a buffer or payload
// that is too short. The exceptions are noted at each function.
//
// Every value is masked to its field width on the wire; nothing is written
// past the given size and nothing is read past the given length.
#include <cstddef>
#include <cstdint>

constexpr int r2s_proto_missing = -7;
constexpr int r2s_proto_uncodable = -8;
constexpr int r2s_proto_too_short = -9;

// Record directions (r2s_proto::type).
constexpr unsigned long r2s_proto_type_empty = 0;
constexpr unsigned long r2s_proto_type_tx = 1;
constexpr unsigned long r2s_proto_type_rx = 2;

// Feature kinds (the upper four bits of a block's first byte). The same
// number names a different feature in each direction.
constexpr std::uint32_t r2s_proto_rx_sqi = 1;
constexpr std::uint32_t r2s_proto_rx_rrc = 3;
constexpr std::uint32_t r2s_proto_rx_mam = 4;
constexpr std::uint32_t r2s_proto_tx_climax_time_delay = 2;
constexpr std::uint32_t r2s_proto_tx_rrc = 3;
constexpr std::uint32_t r2s_proto_tx_rrm = 4;

constexpr int r2s_proto_max_additionals = 16;

// Argument records of the builders; each is also the view of an entry's
// value words for its kind. Widths on the wire in brackets.
struct r2s_proto_rx_additional_sqi {
  std::uint32_t first;   // [5] quality index in the ED-137 layout
  std::uint32_t second;  // [3] the method of that index
};
struct r2s_proto_rx_additional_rrc {
  std::uint32_t f0, f1, f2, f3, f4, f5, f6, f7;  // [1 each]
  std::uint32_t form;                            // 0 short (one byte), 1 long (four bytes)
  std::uint32_t e0, e1;                          // [1 each] long form only
  std::uint32_t b0, b1;                          // [8 each] long form only
};
struct r2s_proto_rx_additional_mam {
  std::uint32_t m0;  // [1]
  std::uint32_t m1;  // [23]
  std::uint32_t m2;  // [1]
  std::uint32_t m3;  // [23]
  std::uint32_t m4;  // [16]
  std::uint32_t m5;  // [16]
  std::uint32_t m6;  // [16]
};
struct r2s_proto_tx_additional_climax_time_delay {
  std::uint32_t d;  // [8]
};
struct r2s_proto_tx_additional_rrc {
  std::uint32_t f0, f1, f2, f3, f4, f5, f6, f7;  // [1 each]
};
struct r2s_proto_tx_additional_rrm {
  std::uint32_t r0;  // [1]
  std::uint32_t r1;  // [23]
};

// One feature entry: its kind and thirteen value words, read through the
// view that the kind and the record's direction select. Words the kind does
// not use are 0.
struct r2s_proto_additional {
  std::uint32_t kind;
  union {
    std::uint32_t values[13];
    r2s_proto_rx_additional_sqi rx_sqi;
    r2s_proto_rx_additional_rrc rx_rrc;
    r2s_proto_rx_additional_mam rx_mam;
    r2s_proto_tx_additional_climax_time_delay tx_time_delay;
    r2s_proto_tx_additional_rrc tx_rrc;
    r2s_proto_tx_additional_rrm tx_rrm;
  };
};

// Header words of each direction.
struct r2s_proto_tx_header {
  std::uint32_t ptt_type;       // [3]
  std::uint32_t ptt_id;         // [6]
  std::uint32_t ptt_mute;       // [1]
  std::uint32_t ptt_summation;  // [1]
  std::uint32_t unused[2];      // 0
};
struct r2s_proto_rx_header {
  std::uint32_t ptt_type;       // [3]
  std::uint32_t squ;            // [1]
  std::uint32_t ptt_id;         // [6]
  std::uint32_t ptt_mute;       // [1]
  std::uint32_t ptt_summation;  // [1]
  std::uint32_t sct;            // [1]
};

struct r2s_proto {
  std::uint32_t source_addr;  // IPv4 address of the packet's session, network order; not on the wire
  std::uint32_t source_ssrc;  // RTP SSRC of that session; not on the wire
  std::uint32_t type;         // r2s_proto_type_empty, _tx or _rx
  union {
    r2s_proto_tx_header tx;
    r2s_proto_rx_header rx;
  };
  std::uint32_t additionals_count;  // entries in use, 0 to 16
  r2s_proto_additional additionals[r2s_proto_max_additionals];
};
static_assert(sizeof(r2s_proto_additional) == 14 * 4, "a feature entry is fourteen words");
static_assert(sizeof(r2s_proto) == 936 && offsetof(r2s_proto, type) == 8 && offsetof(r2s_proto, tx) == 12 &&
                  offsetof(r2s_proto, additionals_count) == 36 && offsetof(r2s_proto, additionals) == 40,
              "r2s_proto record layout");

// Zeroes the whole record and sets its type. Returns 0 (a null record is left alone).
int r2s_proto_init(r2s_proto* rec, unsigned long type);
// Sets the type. Returns 0.
int r2s_proto_set_type(r2s_proto* rec, unsigned long type);
// Set the type (tx, respectively rx) and the header words. Return 0.
int r2s_proto_set_tx_header(r2s_proto* rec, unsigned long ptt_type, unsigned long ptt_id, unsigned long ptt_mute,
                            unsigned long ptt_summation);
int r2s_proto_set_rx_header(r2s_proto* rec, unsigned long ptt_type, unsigned long squ, unsigned long ptt_id,
                            unsigned long ptt_mute, unsigned long ptt_summation, unsigned long sct);
// Forgets every entry. Returns 0.
int r2s_proto_reset_additionals(r2s_proto* rec);

// Builders: append one entry of their kind, a copy of the argument record.
// With 16 entries in use, or a null record or argument, nothing is added.
// They do not check the record's direction: the writer reads each entry by
// its kind number as the record's direction knows it, so an SQI entry in a
// tx record or a CLIMAX entry in an rx record is carried but not packed,
// and an RRC, RRM or MAM entry is packed as the kind of that number in the
// record's direction. Every one returns 0.
int r2s_proto_add_rx_sqi(r2s_proto* rec, const r2s_proto_rx_additional_sqi* sqi);
int r2s_proto_add_rx_sqi(r2s_proto* rec, unsigned long first, unsigned long second);
int r2s_proto_add_rx_rrc(r2s_proto* rec, const r2s_proto_rx_additional_rrc* rrc);
int r2s_proto_add_rx_mam(r2s_proto* rec, const r2s_proto_rx_additional_mam* mam);
int r2s_proto_add_tx_time_delay(r2s_proto* rec, const r2s_proto_tx_additional_climax_time_delay* delay);
int r2s_proto_add_tx_rrc(r2s_proto* rec, const r2s_proto_tx_additional_rrc* rrc);
int r2s_proto_add_tx_rrm(r2s_proto* rec, const r2s_proto_tx_additional_rrm* rrm);

// Writes the record's payload into buf (size bytes, all zeroed first) and
// returns its length: 4 without features (the 2-byte header and two zero
// bytes), else the header and the blocks of the entries whose kind belongs
// to the record's direction, in order. A null record gives -7 and a type
// other than tx and rx -8; then the direction's writer: a null buffer gives
// 0 (nothing written), a size below 2 -9, a size that cannot take the next
// block -9 (the blocks before it stay written). The room reserved per block
// is 2 for CLIMAX, RRC and SQI, 4 for RRM, 13 for MAM, and 5 for an rx RRC
// block of either form.
int r2s_proto_pack(const r2s_proto* rec, unsigned char* buf, int size);
int r2s_proto_pack_tx(const r2s_proto* rec, unsigned char* buf, int size);
int r2s_proto_pack_rx(const r2s_proto* rec, unsigned char* buf, int size);

// Read a payload of size bytes as the given direction into the record,
// which the caller has initialised. Blocks of an unknown kind or length
// (zero padding included) are skipped; reading stops after 16 entries.
// Returns 0, -7 for a null record or buffer, -9 for a payload shorter than
// the header or a block that runs past its end (the entries read before it
// are kept and counted).
int r2s_proto_unpack_tx(r2s_proto* rec, const unsigned char* buf, int size);
int r2s_proto_unpack_rx(r2s_proto* rec, const unsigned char* buf, int size);

// Whether two records come from the same source: -1 when either is null;
// otherwise b's type minus a's when they differ, else b's source_ssrc minus
// a's when they differ, else b's source_addr minus a's (32-bit
// differences). 0 means the same direction from the same session.
int cmp_r2s_proto_source(const r2s_proto* a, const r2s_proto* b);
