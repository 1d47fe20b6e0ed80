#include "radio/r2s_proto.h"

#include <cstring>

namespace {

// Header bits shared by both directions: byte 0 holds the PTT type and the
// upper four bits of the PTT id, byte 1 the rest of the id, mute,
// summation and X. Only rx uses SQU (byte 0 bit 4) and SCT (byte 1 bit 3).
void putHeader(unsigned char* out, std::uint32_t pttType, std::uint32_t squ, std::uint32_t pttId, std::uint32_t mute,
               std::uint32_t summation, std::uint32_t sct, bool more) {
  out[0] = static_cast<unsigned char>(((pttType & 0x7) << 5) | ((squ & 0x1) << 4) | ((pttId >> 2) & 0xF));
  out[1] = static_cast<unsigned char>(((pttId & 0x3) << 6) | ((mute & 0x1) << 5) | ((summation & 0x1) << 4) |
                                      ((sct & 0x1) << 3) | (more ? 0x1 : 0x0));
}

std::uint32_t pttTypeOf(const unsigned char* in) { return in[0] >> 5; }
std::uint32_t squOf(const unsigned char* in) { return (in[0] >> 4) & 0x1; }
std::uint32_t pttIdOf(const unsigned char* in) { return ((in[0] & 0xFu) << 2) | (in[1] >> 6); }
std::uint32_t muteOf(const unsigned char* in) { return (in[1] >> 5) & 0x1; }
std::uint32_t summationOf(const unsigned char* in) { return (in[1] >> 4) & 0x1; }
std::uint32_t sctOf(const unsigned char* in) { return (in[1] >> 3) & 0x1; }

unsigned char blockHead(std::uint32_t kind, unsigned length) {
  return static_cast<unsigned char>((kind << 4) | length);
}

// The eight RRC flags, f0 in bit 7 down to f7 in bit 0.
template <typename Rrc>
unsigned char rrcFlags(const Rrc& r) {
  const std::uint32_t f[8] = {r.f0, r.f1, r.f2, r.f3, r.f4, r.f5, r.f6, r.f7};
  unsigned bits = 0;
  for (int i = 0; i < 8; ++i) bits = (bits << 1) | (f[i] & 0x1);
  return static_cast<unsigned char>(bits);
}

template <typename Rrc>
void readRrcFlags(unsigned char bits, Rrc& r) {
  std::uint32_t* f[8] = {&r.f0, &r.f1, &r.f2, &r.f3, &r.f4, &r.f5, &r.f6, &r.f7};
  for (int i = 0; i < 8; ++i) *f[i] = (bits >> (7 - i)) & 0x1;
}

// A 1-bit flag and a 23-bit value in three bytes (RRM, and twice in MAM).
void putFlag23(unsigned char* out, std::uint32_t flag, std::uint32_t value) {
  out[0] = static_cast<unsigned char>(((flag & 0x1) << 7) | ((value >> 16) & 0x7F));
  out[1] = static_cast<unsigned char>(value >> 8);
  out[2] = static_cast<unsigned char>(value);
}

void readFlag23(const unsigned char* in, std::uint32_t& flag, std::uint32_t& value) {
  flag = in[0] >> 7;
  value = (static_cast<std::uint32_t>(in[0] & 0x7F) << 16) | (static_cast<std::uint32_t>(in[1]) << 8) | in[2];
}

void put16(unsigned char* out, std::uint32_t value) {
  out[0] = static_cast<unsigned char>(value >> 8);
  out[1] = static_cast<unsigned char>(value);
}

std::uint32_t read16(const unsigned char* in) { return (static_cast<std::uint32_t>(in[0]) << 8) | in[1]; }

// Appends an entry of the kind whose value words are a copy of the
// argument record. The entry is cleared first, so that the words its kind
// does not use are 0 even where an earlier entry left values.
template <typename Args>
int addEntry(r2s_proto* rec, std::uint32_t kind, const Args* args) {
  static_assert(sizeof(Args) <= sizeof(r2s_proto_additional::values), "an argument record fits the value words");
  if (!rec || !args || rec->additionals_count >= static_cast<std::uint32_t>(r2s_proto_max_additionals)) return 0;
  r2s_proto_additional& e = rec->additionals[rec->additionals_count++];
  std::memset(&e, 0, sizeof e);
  e.kind = kind;
  std::memcpy(e.values, args, sizeof *args);
  return 0;
}

// Entries in use, bounded by the table even when a caller set the count past it.
std::uint32_t entriesInUse(const r2s_proto* rec) {
  return rec->additionals_count < static_cast<std::uint32_t>(r2s_proto_max_additionals)
             ? rec->additionals_count
             : static_cast<std::uint32_t>(r2s_proto_max_additionals);
}

// The writer both directions share. reserve(entry) gives the room the
// entry's block reserves, 0 for a kind the direction does not know;
// write(entry, out) writes the block and gives its length, or -8 when the
// entry cannot be coded.
template <typename Reserve, typename Write>
int packPayload(const r2s_proto* rec, unsigned char* buf, int size, const std::uint32_t (&header)[6], Reserve reserve,
                Write write) {
  if (!buf) return 0;
  if (size < 2) return r2s_proto_too_short;
  std::memset(buf, 0, static_cast<std::size_t>(size));
  const bool more = rec->additionals_count != 0;
  putHeader(buf, header[0], header[1], header[2], header[3], header[4], header[5], more);
  if (!more) return size < 4 ? r2s_proto_too_short : 4;  // the two zero bytes are already there
  int need = 2;
  int at = 2;
  const std::uint32_t count = entriesInUse(rec);
  for (std::uint32_t i = 0; i < count; ++i) {
    const int room = reserve(rec->additionals[i]);
    if (room == 0) continue;
    if ((need += room) > size) return r2s_proto_too_short;
    const int n = write(rec->additionals[i], buf + at);
    if (n < 0) return n;
    at += n;
  }
  return at;
}

}  // namespace

int r2s_proto_init(r2s_proto* rec, unsigned long type) {
  if (!rec) return 0;
  std::memset(rec, 0, sizeof *rec);
  rec->type = static_cast<std::uint32_t>(type);
  return 0;
}

int r2s_proto_set_type(r2s_proto* rec, unsigned long type) {
  if (rec) rec->type = static_cast<std::uint32_t>(type);
  return 0;
}

int r2s_proto_set_tx_header(r2s_proto* rec, unsigned long ptt_type, unsigned long ptt_id, unsigned long ptt_mute,
                            unsigned long ptt_summation) {
  if (!rec) return 0;
  rec->type = static_cast<std::uint32_t>(r2s_proto_type_tx);
  rec->tx.ptt_type = static_cast<std::uint32_t>(ptt_type);
  rec->tx.ptt_id = static_cast<std::uint32_t>(ptt_id);
  rec->tx.ptt_mute = static_cast<std::uint32_t>(ptt_mute);
  rec->tx.ptt_summation = static_cast<std::uint32_t>(ptt_summation);
  return 0;
}

int r2s_proto_set_rx_header(r2s_proto* rec, unsigned long ptt_type, unsigned long squ, unsigned long ptt_id,
                            unsigned long ptt_mute, unsigned long ptt_summation, unsigned long sct) {
  if (!rec) return 0;
  rec->type = static_cast<std::uint32_t>(r2s_proto_type_rx);
  rec->rx.ptt_type = static_cast<std::uint32_t>(ptt_type);
  rec->rx.squ = static_cast<std::uint32_t>(squ);
  rec->rx.ptt_id = static_cast<std::uint32_t>(ptt_id);
  rec->rx.ptt_mute = static_cast<std::uint32_t>(ptt_mute);
  rec->rx.ptt_summation = static_cast<std::uint32_t>(ptt_summation);
  rec->rx.sct = static_cast<std::uint32_t>(sct);
  return 0;
}

int r2s_proto_reset_additionals(r2s_proto* rec) {
  if (rec) rec->additionals_count = 0;
  return 0;
}

int r2s_proto_add_rx_sqi(r2s_proto* rec, const r2s_proto_rx_additional_sqi* sqi) {
  return addEntry(rec, r2s_proto_rx_sqi, sqi);
}

int r2s_proto_add_rx_sqi(r2s_proto* rec, unsigned long first, unsigned long second) {
  const r2s_proto_rx_additional_sqi sqi = {static_cast<std::uint32_t>(first), static_cast<std::uint32_t>(second)};
  return addEntry(rec, r2s_proto_rx_sqi, &sqi);
}

int r2s_proto_add_rx_rrc(r2s_proto* rec, const r2s_proto_rx_additional_rrc* rrc) {
  return addEntry(rec, r2s_proto_rx_rrc, rrc);
}

int r2s_proto_add_rx_mam(r2s_proto* rec, const r2s_proto_rx_additional_mam* mam) {
  return addEntry(rec, r2s_proto_rx_mam, mam);
}

int r2s_proto_add_tx_time_delay(r2s_proto* rec, const r2s_proto_tx_additional_climax_time_delay* delay) {
  return addEntry(rec, r2s_proto_tx_climax_time_delay, delay);
}

int r2s_proto_add_tx_rrc(r2s_proto* rec, const r2s_proto_tx_additional_rrc* rrc) {
  return addEntry(rec, r2s_proto_tx_rrc, rrc);
}

int r2s_proto_add_tx_rrm(r2s_proto* rec, const r2s_proto_tx_additional_rrm* rrm) {
  return addEntry(rec, r2s_proto_tx_rrm, rrm);
}

int r2s_proto_pack(const r2s_proto* rec, unsigned char* buf, int size) {
  if (!rec) return r2s_proto_missing;
  if (rec->type == r2s_proto_type_tx) return r2s_proto_pack_tx(rec, buf, size);
  if (rec->type == r2s_proto_type_rx) return r2s_proto_pack_rx(rec, buf, size);
  return r2s_proto_uncodable;
}

int r2s_proto_pack_tx(const r2s_proto* rec, unsigned char* buf, int size) {
  if (!rec) return 0;
  const std::uint32_t header[6] = {rec->tx.ptt_type, 0, rec->tx.ptt_id, rec->tx.ptt_mute, rec->tx.ptt_summation, 0};
  return packPayload(
      rec, buf, size, header,
      [](const r2s_proto_additional& e) {
        switch (e.kind) {
          case r2s_proto_tx_climax_time_delay:
          case r2s_proto_tx_rrc:
            return 2;
          case r2s_proto_tx_rrm:
            return 4;
          default:  // an rx kind: nothing on the wire
            return 0;
        }
      },
      [](const r2s_proto_additional& e, unsigned char* out) {
        if (e.kind == r2s_proto_tx_rrm) {
          out[0] = blockHead(e.kind, 3);
          putFlag23(out + 1, e.tx_rrm.r0, e.tx_rrm.r1);
          return 4;
        }
        out[0] = blockHead(e.kind, 1);
        out[1] = e.kind == r2s_proto_tx_rrc ? rrcFlags(e.tx_rrc) : static_cast<unsigned char>(e.tx_time_delay.d);
        return 2;
      });
}

int r2s_proto_pack_rx(const r2s_proto* rec, unsigned char* buf, int size) {
  if (!rec) return 0;
  const std::uint32_t header[6] = {rec->rx.ptt_type, rec->rx.squ,           rec->rx.ptt_id,
                                   rec->rx.ptt_mute, rec->rx.ptt_summation, rec->rx.sct};
  return packPayload(
      rec, buf, size, header,
      [](const r2s_proto_additional& e) {
        switch (e.kind) {
          case r2s_proto_rx_sqi:
            return 2;
          case r2s_proto_rx_rrc:
            return 5;  // the long form's room, whichever form
          case r2s_proto_rx_mam:
            return 13;
          default:  // a tx kind: nothing on the wire
            return 0;
        }
      },
      [](const r2s_proto_additional& e, unsigned char* out) {
        if (e.kind == r2s_proto_rx_sqi) {
          out[0] = blockHead(e.kind, 1);
          out[1] = static_cast<unsigned char>(((e.rx_sqi.first & 0x1F) << 3) | (e.rx_sqi.second & 0x7));
          return 2;
        }
        if (e.kind == r2s_proto_rx_mam) {
          out[0] = blockHead(e.kind, 12);
          putFlag23(out + 1, e.rx_mam.m0, e.rx_mam.m1);
          putFlag23(out + 4, e.rx_mam.m2, e.rx_mam.m3);
          put16(out + 7, e.rx_mam.m4);
          put16(out + 9, e.rx_mam.m5);
          put16(out + 11, e.rx_mam.m6);
          return 13;
        }
        if (e.rx_rrc.form > 1) return r2s_proto_uncodable;
        out[0] = blockHead(e.kind, e.rx_rrc.form == 0 ? 1 : 4);
        out[1] = rrcFlags(e.rx_rrc);
        if (e.rx_rrc.form == 0) return 2;
        out[2] = static_cast<unsigned char>(((e.rx_rrc.e0 & 0x1) << 7) | ((e.rx_rrc.e1 & 0x1) << 6));
        out[3] = static_cast<unsigned char>(e.rx_rrc.b0);
        out[4] = static_cast<unsigned char>(e.rx_rrc.b1);
        return 5;
      });
}

namespace {

// The block walk both readers share, from behind the header while blocks
// are announced; add(kind, length, value) appends an entry for a block the
// direction knows and returns false for the others, which are skipped.
template <typename Add>
int readBlocks(r2s_proto* rec, const unsigned char* buf, int size, Add add) {
  rec->additionals_count = 0;
  if ((buf[1] & 0x1) == 0) return 0;
  for (int at = 2; at < size && rec->additionals_count < static_cast<std::uint32_t>(r2s_proto_max_additionals);) {
    const std::uint32_t kind = buf[at] >> 4;
    const int length = buf[at] & 0xF;
    if (length > size - at - 1) return r2s_proto_too_short;
    add(kind, length, buf + at + 1);
    at += 1 + length;
  }
  return 0;
}

}  // namespace

int r2s_proto_unpack_tx(r2s_proto* rec, const unsigned char* buf, int size) {
  if (!rec || !buf) return r2s_proto_missing;
  if (size < 2) return r2s_proto_too_short;
  rec->type = static_cast<std::uint32_t>(r2s_proto_type_tx);
  rec->tx.ptt_type = pttTypeOf(buf);
  rec->tx.ptt_id = pttIdOf(buf);
  rec->tx.ptt_mute = muteOf(buf);
  rec->tx.ptt_summation = summationOf(buf);
  return readBlocks(rec, buf, size, [rec](std::uint32_t kind, int length, const unsigned char* v) {
    if (kind == r2s_proto_tx_climax_time_delay && length == 1) {
      const r2s_proto_tx_additional_climax_time_delay delay = {v[0]};
      addEntry(rec, kind, &delay);
    } else if (kind == r2s_proto_tx_rrc && length == 1) {
      r2s_proto_tx_additional_rrc rrc;
      readRrcFlags(v[0], rrc);
      addEntry(rec, kind, &rrc);
    } else if (kind == r2s_proto_tx_rrm && length == 3) {
      r2s_proto_tx_additional_rrm rrm;
      readFlag23(v, rrm.r0, rrm.r1);
      addEntry(rec, kind, &rrm);
    }
  });
}

int r2s_proto_unpack_rx(r2s_proto* rec, const unsigned char* buf, int size) {
  if (!rec || !buf) return r2s_proto_missing;
  if (size < 2) return r2s_proto_too_short;
  rec->type = static_cast<std::uint32_t>(r2s_proto_type_rx);
  rec->rx.ptt_type = pttTypeOf(buf);
  rec->rx.squ = squOf(buf);
  rec->rx.ptt_id = pttIdOf(buf);
  rec->rx.ptt_mute = muteOf(buf);
  rec->rx.ptt_summation = summationOf(buf);
  rec->rx.sct = sctOf(buf);
  return readBlocks(rec, buf, size, [rec](std::uint32_t kind, int length, const unsigned char* v) {
    if (kind == r2s_proto_rx_sqi && length == 1) {
      const r2s_proto_rx_additional_sqi sqi = {static_cast<std::uint32_t>(v[0] >> 3), v[0] & 0x7u};
      addEntry(rec, kind, &sqi);
    } else if (kind == r2s_proto_rx_rrc && (length == 1 || length == 4)) {
      r2s_proto_rx_additional_rrc rrc = {};
      readRrcFlags(v[0], rrc);
      if (length == 4) {
        rrc.form = 1;
        rrc.e0 = v[1] >> 7;
        rrc.e1 = (v[1] >> 6) & 0x1;
        rrc.b0 = v[2];
        rrc.b1 = v[3];
      }
      addEntry(rec, kind, &rrc);
    } else if (kind == r2s_proto_rx_mam && length == 12) {
      r2s_proto_rx_additional_mam mam;
      readFlag23(v, mam.m0, mam.m1);
      readFlag23(v + 3, mam.m2, mam.m3);
      mam.m4 = read16(v + 6);
      mam.m5 = read16(v + 8);
      mam.m6 = read16(v + 10);
      addEntry(rec, kind, &mam);
    }
  });
}

int cmp_r2s_proto_source(const r2s_proto* a, const r2s_proto* b) {
  if (!a || !b) return -1;
  if (b->type != a->type) return static_cast<std::int32_t>(b->type - a->type);
  if (b->source_ssrc != a->source_ssrc) return static_cast<std::int32_t>(b->source_ssrc - a->source_ssrc);
  return static_cast<std::int32_t>(b->source_addr - a->source_addr);
}
