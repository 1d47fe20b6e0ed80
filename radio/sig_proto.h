#pragma once
// sig_proto: the VESK radio signalling packets exchanged between a radio
// gateway and its workstations in an RTP extension session. Plain functions
// over one fixed record; no I/O, no allocation.
//
// Workstation to gateway: types 1 to 13 ("GW_..."); gateway to workstation:
// types 129 to 135 ("WM_..."). Every packet has a 4-byte header (type,
// priority, ten flags, the 2-bit selective-call field and a 9-bit status),
// then the payload of its type, big-endian, floats as their IEEE 754 single
// bit pattern, a session address with its four octets reversed (a.b.c.d
// travels as d c b a on every host), caller identities padded with zeros
// to a multiple of four bytes.
//
//   sig_proto rec;
//   sig_proto_init(&rec);
//   rec.type = WM_CHAN;
//   sig_proto_set_wm_chan(&rec, id, freq, squelsh, rte);
//   unsigned char buf[1024];
//   int n = sig_proto_pack(&rec, buf, sizeof buf);    // bytes, or < 0
//
//   sig_proto_init(&rec);                             // the reader keeps what
//   int r = sig_proto_unpack(&rec, buf, n);           // the packet lacks
//
// Results: the writer returns the bytes written; the others 0 for success;
// sig_proto_missing (-7) for a null record or buffer, sig_proto_unknown
// (-8) for a packet type outside the table, sig_proto_too_short (-9) for a
// buffer or packet that is too short. The exceptions are noted below.
#include <netinet/in.h>

#include <cstddef>
#include <cstdint>

constexpr int sig_proto_missing = -7;
constexpr int sig_proto_unknown = -8;
constexpr int sig_proto_too_short = -9;

// Packet types.
enum sig_proto_type : std::uint32_t {
  GW_FLAG = 1,
  GW_ADJUST_CHAN = 2,
  GW_FLAG_PTT = 3,
  GW_FLAG_BSS = 4,
  GW_FLAG_RV = 5,
  GW_FLAG_SH = 6,
  GW_FLAG_PW = 7,
  GW_FLAG_RS = 8,
  GW_SEL_CALL = 9,
  GW_SELECT_RC_CHAN = 10,
  GW_ADJUST_SQUELSHE = 11,
  GW_ADJUST_RTE = 12,
  GW_ADJUST_STANDBY = 13,
  WM_FLAG = 129,
  WM_TRANS = 130,
  WM_RADIO_QUALITY = 131,
  WM_CHAN = 132,
  WM_SEL_CALL_TRANS = 133,
  WM_SELECT_RC_CHAN = 134,
  WM_STANDBY = 135,
};

// Payload views, one per packet type (or pair of types).
struct sig_proto_gw_adjust_chan {  // 2
  std::uint32_t id;                // channel number
  float freq;                      // frequency
};
struct sig_proto_gw_sel_call {  // 9
  std::uint8_t callerID_length;
  std::uint8_t callerID[256];  // up to 255 bytes used
};
struct sig_proto_select_rc_chan {  // 10 and 134
  std::uint8_t interface;
  std::uint8_t channel;
};
struct sig_proto_gw_adjust_squelsh {  // 11
  std::uint8_t squelsh;
};
struct sig_proto_gw_adjust_rte {  // 12
  std::uint8_t rte;
};
struct sig_proto_gw_adjust_standby {  // 13
  std::uint8_t state;
};
struct sig_proto_wm_trans {    // 130
  std::uint32_t session_addr;  // IPv4 address, network order (in_addr::s_addr)
  std::uint32_t ssrc;
};
struct sig_proto_wm_radio_quality {  // 131
  float radio_quality;
};
struct sig_proto_wm_chan {  // 132
  std::uint32_t id;
  float freq;
  std::uint8_t squelsh;
  std::uint8_t rte;
};
struct sig_proto_wm_sel_call_trans {  // 133
  std::uint32_t session_addr;         // network order
  std::uint32_t ssrc;
  std::uint8_t callerID_length;
  std::uint8_t callerID[256];
};
struct sig_proto_wm_standby {  // 135
  std::uint8_t state;
  std::uint8_t group;
  std::uint8_t receiver_state;
};

struct sig_proto {
  std::uint32_t source_addr;  // IPv4 address of the packet's session, network order; not on the wire
  std::uint32_t source_ssrc;  // RTP SSRC of that session; not on the wire
  std::uint32_t type;         // sig_proto_type; the low 8 bits go on the wire
  std::uint32_t priority;     // [4]
  std::uint32_t flag_t;       // [1]
  std::uint32_t flag_p;       // [1] push-to-talk
  std::uint32_t flag_r;       // [1]
  std::uint32_t flag_s;       // [1] squelch
  std::uint32_t flag_b;       // [1] BSS
  std::uint32_t flag_rv;      // [1]
  std::uint32_t flag_sh;      // [1]
  std::uint32_t flag_rs;      // [1]
  std::uint32_t flag_pw;      // [1] power
  std::uint32_t flag_c;       // [2] selective call
  std::uint32_t status;       // [9]
  union {                     // the view of the packet's type
    std::uint8_t payload[268];
    sig_proto_gw_adjust_chan gw_adjust_chan;
    sig_proto_gw_sel_call gw_sel_call;
    sig_proto_select_rc_chan gw_select_rc_chan;
    sig_proto_gw_adjust_squelsh gw_adjust_squelsh;
    sig_proto_gw_adjust_rte gw_adjust_rte;
    sig_proto_gw_adjust_standby gw_adjust_standby;
    sig_proto_wm_trans wm_trans;
    sig_proto_wm_radio_quality wm_radio_quality;
    sig_proto_wm_chan wm_chan;
    sig_proto_wm_sel_call_trans wm_sel_call_trans;
    sig_proto_select_rc_chan wm_select_rc_chan;
    sig_proto_wm_standby wm_standby;
  };
};
static_assert(sizeof(sig_proto) == 15 * 4 + 268 && offsetof(sig_proto, status) == 56 &&
                  offsetof(sig_proto, payload) == 60,
              "sig_proto record layout");
static_assert(sizeof(sig_proto_wm_sel_call_trans) == 268 && offsetof(sig_proto_wm_sel_call_trans, callerID) == 9,
              "the largest payload view fills the payload area");

// Writes the record as one packet into buf (size bytes, all zeroed first)
// and returns the packet's length. A null record or buffer returns 0 and
// writes nothing; a size below 4 returns -9. The header is written, then
// the payload of the type when size reaches what the type needs (12 for
// GW_ADJUST_CHAN and WM_TRANS, L + 12 for GW_SEL_CALL and L + 20 for
// WM_SEL_CALL_TRANS with L caller-identity bytes, 16 for WM_CHAN, 8 for the
// others); a smaller size returns -9 with the header written. A type
// without payload, or outside the table, gives the header alone and 4.
int sig_proto_pack(const sig_proto* rec, unsigned char* buf, int size);
// Reads one packet of size bytes into the record. Returns 0; -7 for a null
// record or buffer; -9 for fewer than 4 bytes, or for a known type whose
// payload is cut short (the record unchanged); -8 for a type outside the
// table (only the record's type is set, to the one received). On success
// the header fields and the type's payload view are set; source_addr,
// source_ssrc and the payload bytes the packet does not carry are left as
// they were, so callers zero the record first.
int sig_proto_unpack(sig_proto* rec, const unsigned char* buf, int size);

// Zeroes the record. Returns 0.
int sig_proto_init(sig_proto* rec);
// Same type from the same session: -1 when either is null; else b's type
// minus a's when not 0, else b's source_ssrc minus a's when not 0, else b's
// source_addr minus a's (32-bit differences).
int cmp_sig_proto_header(const sig_proto* a, const sig_proto* b);
// 1 for the push-to-talk commands (GW_FLAG, GW_FLAG_PTT, GW_SEL_CALL,
// WM_FLAG, WM_TRANS, WM_SEL_CALL_TRANS), else 0 (also for null).
int sig_proto_is_ptt_command(const sig_proto* rec);
// 1 when the host stores the least significant byte first, else 0.
int is_little_endian();

// Setters; each returns 0 and does nothing on a null record. The payload
// setters fill the view their name gives and leave the type alone.
// A negative argument leaves its field unchanged (note pw before rs).
int sig_proto_set_base(sig_proto* rec, int priority, int t, int p, int r, int s, int b, int rv, int sh, int pw, int rs,
                       int c, int status);
int sig_proto_set_ptt(sig_proto* rec, int ptt);
int sig_proto_set_gw_adjust_standby(sig_proto* rec, unsigned char state);
int sig_proto_set_gw_adjust_squelsh(sig_proto* rec, unsigned char squelsh);
int sig_proto_set_gw_adjust_rte(sig_proto* rec, unsigned char rte);
int sig_proto_set_gw_adjust_chan(sig_proto* rec, unsigned id, float freq);
// With cid: the 256 caller-identity bytes zeroed, the text of cid copied
// (at most 255 bytes) and callerID_length = len; without: callerID_length
// and the first identity byte 0.
int sig_proto_set_gw_selcall(sig_proto* rec, const char* cid, unsigned char len);
int sig_proto_set_gw_select_rc_chan(sig_proto* rec, unsigned char interface, unsigned char channel);
int sig_proto_set_wm_select_rc_chan(sig_proto* rec, unsigned char interface, unsigned char channel);
int sig_proto_set_wm_radio_quality(sig_proto* rec, float quality);
int sig_proto_set_wm_transmite(sig_proto* rec, in_addr session, unsigned ssrc);
int sig_proto_set_wm_selcall_transmite(sig_proto* rec, in_addr session, unsigned ssrc, const char* cid,
                                       unsigned char len);
int sig_proto_set_wm_chan(sig_proto* rec, unsigned id, float freq, unsigned char squelsh, unsigned char rte);
int sig_proto_set_wm_standby(sig_proto* rec, unsigned char state, unsigned char group, unsigned char receiver_state);

// The packet-type name table: the twenty types with their names in order,
// then an entry with id -1 that ends every search; 128 entries.
struct s_sig_proto_table_name {
  int id;
  const char* name;
};
constexpr int sig_proto_table_size = 128;
extern const s_sig_proto_table_name (&sig_proto_packet_const_name)[sig_proto_table_size];
// The name of the first entry with that id, scanning while ids are not
// negative; null when none (or a null table).
const char* sig_proto_find_name_by_id(const s_sig_proto_table_name* table, int id);
// The id of the first entry with exactly that name; -1 when none (or null arguments).
int sig_proto_find_id_by_name(const s_sig_proto_table_name* table, const char* name);

// Printers. flags: 1 the type as a number, 2 the type by name (a number
// when it has none), 4 the flags alone (no priority, status or payload).
// Writes the record's text into buf (zeroed first, at most size - 1
// characters) and returns the characters written; 0 for a null buffer or
// record, a size below 1, or a type without a printer (any type outside
// the table but 0).
int sprintf_sig_proto(char* buf, long size, const sig_proto* rec, int flags);
// Compare the printed texts of two records (flags 1, respectively 4): when
// their lengths differ, length(b) - length(a); else strncmp of b's text
// with a's, so that the sign means what it means in the other comparisons.
// -1 when either is null.
int cmp_sig_proto(const sig_proto* a, const sig_proto* b);
int cmp_sig_proto_flags(const sig_proto* a, const sig_proto* b);

// A fixed queue of records; nothing in the daemon uses it.
struct sig_proto_queue {
  sig_proto records[32];
  unsigned char reserved[128];
};
// Zeroes the queue and gives its first 17 records the types of
// init_sig_proto_type, the other 15 the type -1 (all bits set). Returns 0.
int init_sig_proto_queue(sig_proto_queue* queue);
extern const int init_sig_proto_type[17];
