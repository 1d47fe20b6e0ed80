#include "radio/sig_proto.h"

#include <arpa/inet.h>

#include <cstdarg>
#include <cstdio>
#include <cstring>

namespace {

struct NameTable {
  s_sig_proto_table_name entries[sig_proto_table_size];
};

// The twenty packet types in table order, then the entry that ends every
// search; the rest have the id 0 and an empty name.
constexpr NameTable makeNameTable() {
  NameTable t{};
  for (s_sig_proto_table_name& e : t.entries) e = {0, ""};
  const s_sig_proto_table_name named[] = {
      {GW_FLAG, "GW_FLAG"},
      {GW_ADJUST_CHAN, "GW_ADJUST_CHAN"},
      {GW_FLAG_PTT, "GW_FLAG_PTT"},
      {GW_FLAG_BSS, "GW_FLAG_BSS"},
      {GW_FLAG_RV, "GW_FLAG_RV"},
      {GW_FLAG_SH, "GW_FLAG_SH"},
      {GW_FLAG_PW, "GW_FLAG_PW"},
      {GW_FLAG_RS, "GW_FLAG_RS"},
      {GW_SEL_CALL, "GW_SEL_CALL"},
      {GW_SELECT_RC_CHAN, "GW_SELECT_RC_CHAN"},
      {GW_ADJUST_SQUELSHE, "GW_ADJUST_SQUELSHE"},
      {GW_ADJUST_RTE, "GW_ADJUST_RTE"},
      {GW_ADJUST_STANDBY, "GW_ADJUST_STANDBY"},
      {WM_FLAG, "WM_FLAG"},
      {WM_TRANS, "WM_TRANS"},
      {WM_RADIO_QUALITY, "WM_RADIO_QUALITY"},
      {WM_CHAN, "WM_CHAN"},
      {WM_SEL_CALL_TRANS, "WM_SEL_CALL_TRANS"},
      {WM_SELECT_RC_CHAN, "WM_SELECT_RC_CHAN"},
      {WM_STANDBY, "WM_STANDBY"},
      {-1, ""},
  };
  int i = 0;
  for (const s_sig_proto_table_name& e : named) t.entries[i++] = e;
  return t;
}

constexpr NameTable name_table = makeNameTable();

}  // namespace

const s_sig_proto_table_name (&sig_proto_packet_const_name)[sig_proto_table_size] = name_table.entries;

const int init_sig_proto_type[17] = {GW_FLAG,           GW_FLAG_PTT, GW_FLAG_BSS,    GW_FLAG_RV,  GW_FLAG_SH,
                                     GW_FLAG_PW,        GW_FLAG_RS,  GW_ADJUST_CHAN, GW_SEL_CALL, GW_SELECT_RC_CHAN,
                                     GW_ADJUST_STANDBY, WM_FLAG,     WM_TRANS,       WM_CHAN,     WM_RADIO_QUALITY,
                                     WM_SEL_CALL_TRANS, WM_STANDBY};

namespace {

constexpr int header_length = 4;

bool known(std::uint32_t type) {
  return (type >= GW_FLAG && type <= GW_ADJUST_STANDBY) || (type >= WM_FLAG && type <= WM_STANDBY);
}

void put32(unsigned char* out, std::uint32_t v) {
  out[0] = static_cast<unsigned char>(v >> 24);
  out[1] = static_cast<unsigned char>(v >> 16);
  out[2] = static_cast<unsigned char>(v >> 8);
  out[3] = static_cast<unsigned char>(v);
}

std::uint32_t read32(const unsigned char* in) {
  return (static_cast<std::uint32_t>(in[0]) << 24) | (static_cast<std::uint32_t>(in[1]) << 16) |
         (static_cast<std::uint32_t>(in[2]) << 8) | in[3];
}

void putFloat(unsigned char* out, float f) {
  std::uint32_t bits;
  static_assert(sizeof bits == sizeof f, "a float is 32 bits");
  std::memcpy(&bits, &f, sizeof bits);
  put32(out, bits);
}

float readFloat(const unsigned char* in) {
  const std::uint32_t bits = read32(in);
  float f;
  std::memcpy(&f, &bits, sizeof f);
  return f;
}

// The session address lies in memory in network order (a b c d) on every
// host and travels reversed (d c b a); copying bytes keeps it host-free.
void putAddr(unsigned char* out, std::uint32_t addr) {
  unsigned char octets[4];
  std::memcpy(octets, &addr, sizeof octets);
  for (int i = 0; i < 4; ++i) out[i] = octets[3 - i];
}

std::uint32_t readAddr(const unsigned char* in) {
  const unsigned char octets[4] = {in[3], in[2], in[1], in[0]};
  std::uint32_t addr;
  std::memcpy(&addr, octets, sizeof addr);
  return addr;
}

std::uint32_t roundUp4(std::uint32_t n) { return (n + 3u) & ~3u; }

// The length of a type's packet up to its caller identity (the whole
// packet for the types without one). A caller identity follows at that
// offset in GW_SEL_CALL and WM_SEL_CALL_TRANS: its length byte, then its bytes.
int fixedLength(std::uint32_t type) {
  switch (type) {
    case GW_ADJUST_CHAN:
    case WM_TRANS:
      return 12;
    case WM_CHAN:
      return 16;
    case GW_SEL_CALL:
      return 5;
    case WM_SEL_CALL_TRANS:
      return 13;
    case GW_SELECT_RC_CHAN:
    case WM_SELECT_RC_CHAN:
    case GW_ADJUST_SQUELSHE:
    case GW_ADJUST_RTE:
    case GW_ADJUST_STANDBY:
    case WM_RADIO_QUALITY:
    case WM_STANDBY:
      return 8;
    default:
      return header_length;
  }
}

bool hasCallerId(std::uint32_t type) { return type == GW_SEL_CALL || type == WM_SEL_CALL_TRANS; }

// What the writer asks of the buffer: a caller identity of L bytes
// reserves L + 7 beyond the fixed part, more than its padded length.
int packNeed(const sig_proto& rec) {
  if (rec.type == GW_SEL_CALL) return fixedLength(rec.type) + rec.gw_sel_call.callerID_length + 7;
  if (rec.type == WM_SEL_CALL_TRANS) return fixedLength(rec.type) + rec.wm_sel_call_trans.callerID_length + 7;
  return fixedLength(rec.type);
}

void putHeader(const sig_proto& rec, unsigned char* out) {
  out[0] = static_cast<unsigned char>(rec.type);
  out[1] = static_cast<unsigned char>(((rec.priority & 0xF) << 4) | ((rec.flag_t & 1) << 3) | ((rec.flag_p & 1) << 2) |
                                      ((rec.flag_r & 1) << 1) | (rec.flag_s & 1));
  const std::uint32_t status = rec.status & 0x1FF;
  out[2] = static_cast<unsigned char>(((rec.flag_b & 1) << 7) | ((rec.flag_rv & 1) << 6) | ((rec.flag_sh & 1) << 5) |
                                      ((rec.flag_pw & 1) << 4) | (status >> 5));
  out[3] = static_cast<unsigned char>(((status & 0x1F) << 3) | ((rec.flag_c & 3) << 1) | (rec.flag_rs & 1));
}

void readHeader(const unsigned char* in, sig_proto& rec) {
  rec.type = in[0];
  rec.priority = in[1] >> 4;
  rec.flag_t = (in[1] >> 3) & 1;
  rec.flag_p = (in[1] >> 2) & 1;
  rec.flag_r = (in[1] >> 1) & 1;
  rec.flag_s = in[1] & 1;
  rec.flag_b = in[2] >> 7;
  rec.flag_rv = (in[2] >> 6) & 1;
  rec.flag_sh = (in[2] >> 5) & 1;
  rec.flag_pw = (in[2] >> 4) & 1;
  rec.status = (static_cast<std::uint32_t>(in[2] & 0x0F) << 5) | (in[3] >> 3);
  rec.flag_c = (in[3] >> 1) & 3;
  rec.flag_rs = in[3] & 1;
}

// Length of a caller-identity packet: its fixed part, the identity and the
// zero padding to four bytes (already zero: the writer cleared the buffer).
int writeCallerId(unsigned char* out, int at, std::uint8_t length, const std::uint8_t* id) {
  out[at++] = length;
  std::memcpy(out + at, id, length);
  return static_cast<int>(roundUp4(static_cast<std::uint32_t>(at + length)));
}

}  // namespace

int sig_proto_pack(const sig_proto* rec, unsigned char* buf, int size) {
  if (!rec || !buf) return 0;
  if (size < header_length) return sig_proto_too_short;
  std::memset(buf, 0, static_cast<std::size_t>(size));
  putHeader(*rec, buf);
  if (size < packNeed(*rec)) return sig_proto_too_short;
  unsigned char* p = buf + header_length;
  switch (rec->type) {
    case GW_ADJUST_CHAN:
      put32(p, rec->gw_adjust_chan.id);
      putFloat(p + 4, rec->gw_adjust_chan.freq);
      return 12;
    case GW_SEL_CALL:
      return writeCallerId(buf, header_length, rec->gw_sel_call.callerID_length, rec->gw_sel_call.callerID);
    case GW_SELECT_RC_CHAN:
      p[0] = rec->gw_select_rc_chan.interface;
      p[1] = rec->gw_select_rc_chan.channel;
      return 8;
    case WM_SELECT_RC_CHAN:
      p[0] = rec->wm_select_rc_chan.interface;
      p[1] = rec->wm_select_rc_chan.channel;
      return 8;
    case GW_ADJUST_SQUELSHE:
      p[0] = rec->gw_adjust_squelsh.squelsh;
      return 8;
    case GW_ADJUST_RTE:
      p[0] = rec->gw_adjust_rte.rte;
      return 8;
    case GW_ADJUST_STANDBY:
      p[0] = rec->gw_adjust_standby.state;
      return 8;
    case WM_TRANS:
      putAddr(p, rec->wm_trans.session_addr);
      put32(p + 4, rec->wm_trans.ssrc);
      return 12;
    case WM_RADIO_QUALITY:
      putFloat(p, rec->wm_radio_quality.radio_quality);
      return 8;
    case WM_CHAN:
      put32(p, rec->wm_chan.id);
      putFloat(p + 4, rec->wm_chan.freq);
      p[8] = rec->wm_chan.squelsh;
      p[9] = rec->wm_chan.rte;
      return 16;
    case WM_SEL_CALL_TRANS:
      putAddr(p, rec->wm_sel_call_trans.session_addr);
      put32(p + 4, rec->wm_sel_call_trans.ssrc);
      return writeCallerId(buf, header_length + 8, rec->wm_sel_call_trans.callerID_length,
                           rec->wm_sel_call_trans.callerID);
    case WM_STANDBY:
      p[0] = rec->wm_standby.state;
      p[1] = rec->wm_standby.group;
      p[2] = rec->wm_standby.receiver_state;
      return 8;
    default:  // the flag packets, and types outside the table
      return header_length;
  }
}

int sig_proto_unpack(sig_proto* rec, const unsigned char* buf, int size) {
  if (!rec || !buf) return sig_proto_missing;
  if (size < header_length) return sig_proto_too_short;
  const std::uint32_t type = buf[0];
  if (!known(type)) {
    rec->type = type;
    return sig_proto_unknown;
  }
  // Every length is checked before the record is touched.
  int need = fixedLength(type);
  if (hasCallerId(type) && size >= need) need += buf[need - 1];
  if (size < need) return sig_proto_too_short;
  readHeader(buf, *rec);
  const unsigned char* p = buf + header_length;
  switch (type) {
    case GW_ADJUST_CHAN:
      rec->gw_adjust_chan.id = read32(p);
      rec->gw_adjust_chan.freq = readFloat(p + 4);
      break;
    case GW_SEL_CALL:
      rec->gw_sel_call.callerID_length = p[0];
      std::memcpy(rec->gw_sel_call.callerID, p + 1, p[0]);
      break;
    case GW_SELECT_RC_CHAN:
      rec->gw_select_rc_chan.interface = p[0];
      rec->gw_select_rc_chan.channel = p[1];
      break;
    case WM_SELECT_RC_CHAN:
      rec->wm_select_rc_chan.interface = p[0];
      rec->wm_select_rc_chan.channel = p[1];
      break;
    case GW_ADJUST_SQUELSHE:
      rec->gw_adjust_squelsh.squelsh = p[0];
      break;
    case GW_ADJUST_RTE:
      rec->gw_adjust_rte.rte = p[0];
      break;
    case GW_ADJUST_STANDBY:
      rec->gw_adjust_standby.state = p[0];
      break;
    case WM_TRANS:
      rec->wm_trans.session_addr = readAddr(p);
      rec->wm_trans.ssrc = read32(p + 4);
      break;
    case WM_RADIO_QUALITY:
      rec->wm_radio_quality.radio_quality = readFloat(p);
      break;
    case WM_CHAN:
      rec->wm_chan.id = read32(p);
      rec->wm_chan.freq = readFloat(p + 4);
      rec->wm_chan.squelsh = p[8];
      rec->wm_chan.rte = p[9];
      break;
    case WM_SEL_CALL_TRANS:
      rec->wm_sel_call_trans.session_addr = readAddr(p);
      rec->wm_sel_call_trans.ssrc = read32(p + 4);
      rec->wm_sel_call_trans.callerID_length = p[8];
      std::memcpy(rec->wm_sel_call_trans.callerID, p + 9, p[8]);
      break;
    case WM_STANDBY:
      rec->wm_standby.state = p[0];
      rec->wm_standby.group = p[1];
      rec->wm_standby.receiver_state = p[2];
      break;
    default:
      break;
  }
  return 0;
}

int sig_proto_init(sig_proto* rec) {
  if (rec) std::memset(rec, 0, sizeof *rec);
  return 0;
}

int cmp_sig_proto_header(const sig_proto* a, const sig_proto* b) {
  if (!a || !b) return -1;
  if (b->type != a->type) return static_cast<std::int32_t>(b->type - a->type);
  if (b->source_ssrc != a->source_ssrc) return static_cast<std::int32_t>(b->source_ssrc - a->source_ssrc);
  return static_cast<std::int32_t>(b->source_addr - a->source_addr);
}

int sig_proto_is_ptt_command(const sig_proto* rec) {
  if (!rec) return 0;
  switch (rec->type) {
    case GW_FLAG:
    case GW_FLAG_PTT:
    case GW_SEL_CALL:
    case WM_FLAG:
    case WM_TRANS:
    case WM_SEL_CALL_TRANS:
      return 1;
    default:
      return 0;
  }
}

int is_little_endian() {
  const std::uint16_t one = 1;
  unsigned char first;
  std::memcpy(&first, &one, 1);
  return first == 1 ? 1 : 0;
}

int sig_proto_set_base(sig_proto* rec, int priority, int t, int p, int r, int s, int b, int rv, int sh, int pw, int rs,
                       int c, int status) {
  if (!rec) return 0;
  const int values[] = {priority, t, p, r, s, b, rv, sh, pw, rs, c, status};
  std::uint32_t* fields[] = {&rec->priority, &rec->flag_t,  &rec->flag_p,  &rec->flag_r,  &rec->flag_s, &rec->flag_b,
                             &rec->flag_rv,  &rec->flag_sh, &rec->flag_pw, &rec->flag_rs, &rec->flag_c, &rec->status};
  for (std::size_t i = 0; i < sizeof values / sizeof values[0]; ++i) {
    if (values[i] >= 0) *fields[i] = static_cast<std::uint32_t>(values[i]);
  }
  return 0;
}

int sig_proto_set_ptt(sig_proto* rec, int ptt) {
  if (rec && ptt >= 0) rec->flag_p = static_cast<std::uint32_t>(ptt);
  return 0;
}

int sig_proto_set_gw_adjust_standby(sig_proto* rec, unsigned char state) {
  if (rec) rec->gw_adjust_standby.state = state;
  return 0;
}

int sig_proto_set_gw_adjust_squelsh(sig_proto* rec, unsigned char squelsh) {
  if (rec) rec->gw_adjust_squelsh.squelsh = squelsh;
  return 0;
}

int sig_proto_set_gw_adjust_rte(sig_proto* rec, unsigned char rte) {
  if (rec) rec->gw_adjust_rte.rte = rte;
  return 0;
}

int sig_proto_set_gw_adjust_chan(sig_proto* rec, unsigned id, float freq) {
  if (!rec) return 0;
  rec->gw_adjust_chan.id = id;
  rec->gw_adjust_chan.freq = freq;
  return 0;
}

namespace {

void setCallerId(std::uint8_t& length, std::uint8_t (&id)[256], const char* cid, unsigned char len) {
  if (cid) {
    std::memset(id, 0, sizeof id);
    std::size_t n = 0;
    while (n < sizeof id - 1 && cid[n] != '\0') ++n;
    std::memcpy(id, cid, n);
    length = len;
  } else {
    length = 0;
    id[0] = 0;
  }
}

}  // namespace

int sig_proto_set_gw_selcall(sig_proto* rec, const char* cid, unsigned char len) {
  if (rec) setCallerId(rec->gw_sel_call.callerID_length, rec->gw_sel_call.callerID, cid, len);
  return 0;
}

int sig_proto_set_gw_select_rc_chan(sig_proto* rec, unsigned char interface, unsigned char channel) {
  if (!rec) return 0;
  rec->gw_select_rc_chan.interface = interface;
  rec->gw_select_rc_chan.channel = channel;
  return 0;
}

int sig_proto_set_wm_select_rc_chan(sig_proto* rec, unsigned char interface, unsigned char channel) {
  if (!rec) return 0;
  rec->wm_select_rc_chan.interface = interface;
  rec->wm_select_rc_chan.channel = channel;
  return 0;
}

int sig_proto_set_wm_radio_quality(sig_proto* rec, float quality) {
  if (rec) rec->wm_radio_quality.radio_quality = quality;
  return 0;
}

int sig_proto_set_wm_transmite(sig_proto* rec, in_addr session, unsigned ssrc) {
  if (!rec) return 0;
  rec->wm_trans.session_addr = session.s_addr;
  rec->wm_trans.ssrc = ssrc;
  return 0;
}

int sig_proto_set_wm_selcall_transmite(sig_proto* rec, in_addr session, unsigned ssrc, const char* cid,
                                       unsigned char len) {
  if (!rec) return 0;
  rec->wm_sel_call_trans.session_addr = session.s_addr;
  rec->wm_sel_call_trans.ssrc = ssrc;
  setCallerId(rec->wm_sel_call_trans.callerID_length, rec->wm_sel_call_trans.callerID, cid, len);
  return 0;
}

int sig_proto_set_wm_chan(sig_proto* rec, unsigned id, float freq, unsigned char squelsh, unsigned char rte) {
  if (!rec) return 0;
  rec->wm_chan.id = id;
  rec->wm_chan.freq = freq;
  rec->wm_chan.squelsh = squelsh;
  rec->wm_chan.rte = rte;
  return 0;
}

int sig_proto_set_wm_standby(sig_proto* rec, unsigned char state, unsigned char group, unsigned char receiver_state) {
  if (!rec) return 0;
  rec->wm_standby.state = state;
  rec->wm_standby.group = group;
  rec->wm_standby.receiver_state = receiver_state;
  return 0;
}

const char* sig_proto_find_name_by_id(const s_sig_proto_table_name* table, int id) {
  if (!table) return nullptr;
  for (int i = 0; i < sig_proto_table_size && table[i].id >= 0; ++i) {
    if (table[i].id == id) return table[i].name;
  }
  return nullptr;
}

int sig_proto_find_id_by_name(const s_sig_proto_table_name* table, const char* name) {
  if (!table || !name) return -1;
  for (int i = 0; i < sig_proto_table_size && table[i].id >= 0; ++i) {
    if (table[i].name && std::strcmp(table[i].name, name) == 0) return table[i].id;
  }
  return -1;
}

// ---- printers ----

namespace {

// A text being printed into a caller's buffer: every line is cut to what is
// left, and the count is of what actually stands in the buffer.
class Text {
 public:
  Text(char* buf, long size) : buf_(buf), size_(size) {}
  __attribute__((format(printf, 2, 3))) void line(const char* format, ...) {
    const long left = size_ - used_;
    if (left <= 1) return;
    va_list args;
    va_start(args, format);
    const int n = std::vsnprintf(buf_ + used_, static_cast<std::size_t>(left), format, args);
    va_end(args);
    if (n > 0) used_ += n < left ? n : left - 1;
  }
  int length() const { return static_cast<int>(used_); }

 private:
  char* buf_;
  long size_;
  long used_ = 0;
};

constexpr int print_type_number = 1;
constexpr int print_type_name = 2;
constexpr int print_flags_only = 4;

unsigned long ul(std::uint32_t v) { return v; }

void sprintf_base(Text& t, const sig_proto& rec, int flags) {
  if (flags & print_type_name) {
    const char* name = sig_proto_find_name_by_id(sig_proto_packet_const_name, static_cast<int>(rec.type));
    if (name) {
      t.line("type      : %s,\n", name);
    } else {
      t.line("type      : 0x%08lX,\n", ul(rec.type));
    }
  } else if (flags & print_type_number) {
    t.line("type      : 0x%08lX,\n", ul(rec.type));
  }
  t.line("flag_t   : %lu,\n", ul(rec.flag_t));
  t.line("flag_p   : %lu,\n", ul(rec.flag_p));
  t.line("flag_r   : %lu,\n", ul(rec.flag_r));
  t.line("flag_s   : %lu,\n", ul(rec.flag_s));
  t.line("flag_b   : %lu,\n", ul(rec.flag_b));
  t.line("flag_rv  : %lu,\n", ul(rec.flag_rv));
  t.line("flag_sh  : %lu,\n", ul(rec.flag_sh));
  t.line("flag_rs  : %lu,\n", ul(rec.flag_rs));
  t.line("flag_pw  : %lu,\n", ul(rec.flag_pw));
  t.line("flag_c   : %lu,\n", ul(rec.flag_c));
  if (flags & print_flags_only) return;
  t.line("priority : %lu,\n", ul(rec.priority));
  t.line("status   : %lu,\n", ul(rec.status));
}

void printCallerId(Text& t, const char* prefix, std::uint8_t length, const std::uint8_t* id) {
  t.line("%s.callerID_length: %d,\n", prefix, length);
  t.line("%s.callerID : \n", prefix);
  for (int i = 0; i < length; ++i) t.line("[%d] : 0x%02X,\n", i, id[i]);
}

void printAddr(Text& t, const char* format, std::uint32_t addr) {
  in_addr a;
  a.s_addr = addr;
  char dotted[INET_ADDRSTRLEN];
  t.line(format, ::inet_ntop(AF_INET, &a, dotted, sizeof dotted));
}

void sprintf_gw_adjust_chan(Text& t, const sig_proto& rec, int flags) {
  sprintf_base(t, rec, flags);
  if (flags & print_flags_only) return;
  t.line("gw_adjust_chan.id   : %lu,\n", ul(rec.gw_adjust_chan.id));
  t.line("gw_adjust_chan.freq : %4.4f,\n", static_cast<double>(rec.gw_adjust_chan.freq));
}

void sprintf_gw_selcall(Text& t, const sig_proto& rec, int flags) {
  sprintf_base(t, rec, flags);
  if (flags & print_flags_only) return;
  printCallerId(t, "gw_sel_call", rec.gw_sel_call.callerID_length, rec.gw_sel_call.callerID);
}

void sprintf_gw_select_rc_chan(Text& t, const sig_proto& rec, int flags) {
  sprintf_base(t, rec, flags);
  if (flags & print_flags_only) return;
  t.line("gw_select_rc_chan.interface : %d,\n", rec.gw_select_rc_chan.interface);
  t.line("gw_select_rc_chan.channel   : %d,\n", rec.gw_select_rc_chan.channel);
}

void sprintf_gw_adjust_squelsh(Text& t, const sig_proto& rec, int flags) {
  sprintf_base(t, rec, flags);
  if (flags & print_flags_only) return;
  t.line("gw_adjust_squelsh.squelsh   : %d,\n", rec.gw_adjust_squelsh.squelsh);
}

void sprintf_gw_adjust_rte(Text& t, const sig_proto& rec, int flags) {
  sprintf_base(t, rec, flags);
  if (flags & print_flags_only) return;
  t.line("gw_adjust_rte.rte   : %d,\n", rec.gw_adjust_rte.rte);
}

void sprintf_gw_adjust_standby(Text& t, const sig_proto& rec, int flags) {
  sprintf_base(t, rec, flags);
  if (flags & print_flags_only) return;
  t.line("gw_adjust_standby.state   : %d,\n", rec.gw_adjust_standby.state);
}

void sprintf_wm_trans(Text& t, const sig_proto& rec, int flags) {
  sprintf_base(t, rec, flags);
  if (flags & print_flags_only) return;
  printAddr(t, "wm_trans.session_addr : %s,\n", rec.wm_trans.session_addr);
  t.line("wm_trans.ssrc         : 0x%08lX,\n", ul(rec.wm_trans.ssrc));
}

void sprintf_wm_radio_qulity(Text& t, const sig_proto& rec, int flags) {
  sprintf_base(t, rec, flags);
  if (flags & print_flags_only) return;
  t.line("wm_radio_quality.radio_quality : %4.5f,\n", static_cast<double>(rec.wm_radio_quality.radio_quality));
}

void sprintf_wm_chan(Text& t, const sig_proto& rec, int flags) {
  sprintf_base(t, rec, flags);
  if (flags & print_flags_only) return;
  t.line("wm_chan.id   : %lu,\n", ul(rec.wm_chan.id));
  t.line("wm_chan.freq : %4.4f,\n", static_cast<double>(rec.wm_chan.freq));
  t.line("wm_chan.squelsh : %d,\n", rec.wm_chan.squelsh);
  t.line("wm_chan.rte     : %d,\n", rec.wm_chan.rte);
}

void sprintf_wm_selcall(Text& t, const sig_proto& rec, int flags) {
  sprintf_base(t, rec, flags);
  if (flags & print_flags_only) return;
  printAddr(t, "wm_sel_call_trans.session_addr : %s,\n", rec.wm_sel_call_trans.session_addr);
  t.line("wm_sel_call_trans.ssrc         : 0x%08lX,\n", ul(rec.wm_sel_call_trans.ssrc));
  printCallerId(t, "wm_sel_call_trans", rec.wm_sel_call_trans.callerID_length, rec.wm_sel_call_trans.callerID);
}

void sprintf_wm_select_rc_chan(Text& t, const sig_proto& rec, int flags) {
  sprintf_base(t, rec, flags);
  if (flags & print_flags_only) return;
  t.line("wm_select_rc_chan.interface : %d,\n", rec.wm_select_rc_chan.interface);
  t.line("wm_select_rc_chan.channel   : %d,\n", rec.wm_select_rc_chan.channel);
}

void sprintf_wm_standby(Text& t, const sig_proto& rec, int flags) {
  sprintf_base(t, rec, flags);
  if (flags & print_flags_only) return;
  t.line("wm_standby.state           : %d,\n", rec.wm_standby.state);
  t.line("wm_standby.group           : %d,\n", rec.wm_standby.group);
  t.line("wm_standby.receiver_state  : %d,\n", rec.wm_standby.receiver_state);
}

struct PrinterRow {
  std::uint32_t type;
  void (*print)(Text&, const sig_proto&, int);
};

const PrinterRow printers[21] = {
    {0, sprintf_base},
    {GW_FLAG, sprintf_base},
    {GW_FLAG_PTT, sprintf_base},
    {GW_FLAG_BSS, sprintf_base},
    {GW_FLAG_RV, sprintf_base},
    {GW_FLAG_SH, sprintf_base},
    {GW_FLAG_PW, sprintf_base},
    {GW_FLAG_RS, sprintf_base},
    {WM_FLAG, sprintf_base},
    {GW_ADJUST_CHAN, sprintf_gw_adjust_chan},
    {GW_SEL_CALL, sprintf_gw_selcall},
    {GW_SELECT_RC_CHAN, sprintf_gw_select_rc_chan},
    {GW_ADJUST_SQUELSHE, sprintf_gw_adjust_squelsh},
    {GW_ADJUST_RTE, sprintf_gw_adjust_rte},
    {GW_ADJUST_STANDBY, sprintf_gw_adjust_standby},
    {WM_TRANS, sprintf_wm_trans},
    {WM_RADIO_QUALITY, sprintf_wm_radio_qulity},
    {WM_CHAN, sprintf_wm_chan},
    {WM_SEL_CALL_TRANS, sprintf_wm_selcall},
    {WM_SELECT_RC_CHAN, sprintf_wm_select_rc_chan},
    {WM_STANDBY, sprintf_wm_standby},
};

// Compares the two records' texts printed with the given flags.
int comparePrinted(const sig_proto* a, const sig_proto* b, int flags) {
  if (!a || !b) return -1;
  char textA[8192];
  char textB[8192];
  const int lengthA = sprintf_sig_proto(textA, sizeof textA, a, flags);
  const int lengthB = sprintf_sig_proto(textB, sizeof textB, b, flags);
  if (lengthA != lengthB) return lengthB - lengthA;
  return std::strncmp(textB, textA, static_cast<std::size_t>(lengthA));
}

}  // namespace

int sprintf_sig_proto(char* buf, long size, const sig_proto* rec, int flags) {
  if (!buf || !rec || size < 1) return 0;
  std::memset(buf, 0, static_cast<std::size_t>(size));
  for (const PrinterRow& row : printers) {
    if (row.type == rec->type) {
      Text t(buf, size);
      row.print(t, *rec, flags);
      return t.length();
    }
  }
  return 0;
}

int cmp_sig_proto(const sig_proto* a, const sig_proto* b) { return comparePrinted(a, b, print_type_number); }

int cmp_sig_proto_flags(const sig_proto* a, const sig_proto* b) { return comparePrinted(a, b, print_flags_only); }

int init_sig_proto_queue(sig_proto_queue* queue) {
  if (!queue) return 0;
  std::memset(queue, 0, sizeof *queue);
  for (int i = 0; i < 32; ++i) {
    queue->records[i].type = i < 17 ? static_cast<std::uint32_t>(init_sig_proto_type[i]) : 0xFFFFFFFFu;
  }
  return 0;
}
