#include "monitoring/snmp_trap.h"

#include <time.h>

#include <cstring>

namespace {

constexpr char default_community[] = "tarnel";
constexpr std::size_t max_oid_components = 128;
// A sub-identifier of up to 33 bits (the first two components combined)
// takes at most five base-128 groups.
constexpr std::size_t max_oid_content = max_oid_components * 5;

constexpr std::uint8_t tag_sequence = 0x30;
constexpr std::uint8_t long_length_1 = 0x81;
constexpr std::uint8_t long_length_2 = 0x82;
// A constructed header: tag, 0x82, two length bytes filled in later.
constexpr std::size_t constructed_header = 4;

// Bytes a primitive length takes in its shortest form (up to 0xFFFF).
std::size_t length_size(std::size_t n) { return n <= 127 ? 1 : n <= 255 ? 2 : 3; }

bool writable(const snmp_trap& t) { return t.write_pos != 0 && t.write_pos <= snmp_trap::buffer_size; }

// Stops the message: nothing more can be written to it or ended.
int spoil(snmp_trap* t) {
  t->write_pos = 0;
  t->room = 0;
  return -1;
}

bool fits(const snmp_trap& t, std::size_t n) { return writable(t) && n <= snmp_trap::buffer_size - t.write_pos; }

void put(snmp_trap* t, std::uint8_t byte) {
  t->buffer[t->write_pos++] = byte;
  t->room = static_cast<std::uint32_t>(snmp_trap::buffer_size - t->write_pos);
}

void put_u16(std::uint8_t* at, std::size_t n) {
  at[0] = static_cast<std::uint8_t>(n >> 8);
  at[1] = static_cast<std::uint8_t>(n);
}

// Tag, shortest length and content, or false (nothing written) without room.
bool put_primitive(snmp_trap* t, std::uint8_t tag, const std::uint8_t* content, std::size_t n) {
  if (n > 0xFFFF || !fits(*t, 1 + length_size(n) + n)) return false;
  put(t, tag);
  if (n > 255) {
    put(t, long_length_2);
    put(t, static_cast<std::uint8_t>(n >> 8));
  } else if (n > 127) {
    put(t, long_length_1);
  }
  put(t, static_cast<std::uint8_t>(n));
  for (std::size_t i = 0; i < n; ++i) put(t, content[i]);
  return true;
}

// A constructed header with its length left open; returns its position
// through at.
bool put_constructed(snmp_trap* t, std::uint8_t tag, std::uint32_t* at) {
  if (!fits(*t, constructed_header)) return false;
  *at = t->write_pos;
  put(t, tag);
  put(t, long_length_2);
  put(t, 0);
  put(t, 0);
  return true;
}

// Shortest two's-complement form of a signed 32-bit value; returns the size.
std::size_t signed_content(std::int32_t v, std::uint8_t out[4]) {
  const std::uint32_t u = static_cast<std::uint32_t>(v);
  for (int i = 0; i < 4; ++i) out[i] = static_cast<std::uint8_t>(u >> (24 - 8 * i));
  std::size_t skip = 0;
  while (skip < 3 && ((out[skip] == 0x00 && !(out[skip + 1] & 0x80)) || (out[skip] == 0xFF && (out[skip + 1] & 0x80))))
    ++skip;
  std::memmove(out, out + skip, 4 - skip);
  return 4 - skip;
}

// Shortest form of an unsigned 32-bit value as a non-negative INTEGER: a zero
// byte in front when the top bit of the first remaining byte is set. Zero
// keeps one byte, since an INTEGER has at least one content byte.
std::size_t unsigned_content(std::uint32_t v, std::uint8_t out[5]) {
  std::uint8_t be[4];
  for (int i = 0; i < 4; ++i) be[i] = static_cast<std::uint8_t>(v >> (24 - 8 * i));
  std::size_t first = 0;
  while (first < 3 && be[first] == 0) ++first;
  std::size_t n = 0;
  if (be[first] & 0x80) out[n++] = 0;
  for (std::size_t i = first; i < 4; ++i) out[n++] = be[i];
  return n;
}

// One sub-identifier in base 128, most significant group first.
std::size_t put_subid(std::uint64_t v, std::uint8_t* out) {
  std::uint8_t groups[10];
  std::size_t n = 0;
  do {
    groups[n++] = static_cast<std::uint8_t>(v & 0x7F);
    v >>= 7;
  } while (v != 0);
  for (std::size_t i = 0; i < n; ++i) out[i] = static_cast<std::uint8_t>(groups[n - 1 - i] | (i + 1 < n ? 0x80 : 0));
  return n;
}

// The content of an OBJECT IDENTIFIER; 0 (never a valid size) when the
// components cannot be coded.
std::size_t oid_content(const std::uint32_t* oid, std::size_t count, std::uint8_t out[max_oid_content]) {
  if (count > max_oid_components || (count > 0 && oid == nullptr)) return 0;
  if (count == 0) {
    out[0] = 0;
    return 1;
  }
  const std::uint32_t first = oid[0];
  if (first > 2) return 0;
  std::uint64_t combined = std::uint64_t{first} * 40;
  if (count > 1) {
    if (first < 2 && oid[1] >= 40) return 0;
    combined += oid[1];
  }
  std::size_t n = put_subid(combined, out);
  for (std::size_t i = 2; i < count; ++i) n += put_subid(oid[i], out + n);
  return n;
}

bool put_oid(snmp_trap* t, const std::uint32_t* oid, std::size_t count) {
  std::uint8_t content[max_oid_content];
  const std::size_t n = oid_content(oid, count, content);
  return n != 0 && put_primitive(t, snmp_type_object_id, content, n);
}

bool put_signed(snmp_trap* t, std::int32_t v) {
  std::uint8_t content[4];
  return put_primitive(t, snmp_type_integer, content, signed_content(v, content));
}

bool put_value(snmp_trap* t, int type, const void* value, std::size_t length) {
  const std::uint8_t* bytes = static_cast<const std::uint8_t*>(value);
  switch (type) {
    case snmp_type_integer: {
      std::int32_t v;
      if (length != sizeof v || value == nullptr) return false;
      std::memcpy(&v, value, sizeof v);
      return put_signed(t, v);
    }
    case snmp_type_bit_string:
      if (length == 0 || value == nullptr) return false;
      return put_primitive(t, static_cast<std::uint8_t>(type), bytes, length);
    case snmp_type_octet_string:
    case snmp_type_ip_address:
    case snmp_type_opaque:
    case snmp_type_nsap_address:
      if (value == nullptr) length = 0;
      return put_primitive(t, static_cast<std::uint8_t>(type), bytes, length);
    case snmp_type_null:
      return put_primitive(t, snmp_type_null, nullptr, 0);
    case snmp_type_object_id: {
      const std::size_t count = length / 4;
      if (count > max_oid_components || (count > 0 && value == nullptr)) return false;
      std::uint32_t components[max_oid_components];
      if (count > 0) std::memcpy(components, value, count * 4);
      return put_oid(t, components, count);
    }
    case snmp_type_counter32:
    case snmp_type_gauge32:
    case snmp_type_timeticks:
    case snmp_type_uinteger32: {
      std::uint32_t v;
      if (length != sizeof v || value == nullptr) return false;
      std::memcpy(&v, value, sizeof v);
      std::uint8_t content[5];
      return put_primitive(t, static_cast<std::uint8_t>(type), content, unsigned_content(v, content));
    }
    default:
      return false;
  }
}

}  // namespace

int snmp_session_seed(snmp_trap* trap, std::uint32_t seed) {
  if (trap == nullptr) return -1;
  trap->request_id = seed;
  return 0;
}

int trap_init(snmp_trap* trap, const char* community) {
  if (trap == nullptr) return -1;
  const std::uint32_t next = trap->request_id * 850009u + 991873u;
  std::memset(trap, 0, sizeof *trap);
  trap->version = 1;
  trap->pdu_type = snmp_trap::pdu_trap_v2;
  trap->request_id = (next & 0x7FFFFFFFu) | 1u;
  std::strncpy(trap->community, community ? community : default_community, snmp_trap::community_size - 1);
  trap->room = snmp_trap::buffer_size;
  trap->state = snmp_trap::fresh;
  return 0;
}

int trap_pack_begin(snmp_trap* trap) {
  if (trap == nullptr || trap->state != snmp_trap::fresh) return -1;
  trap->state = snmp_trap::begun;
  // The message header opens the empty buffer; its length is filled in last.
  trap->buffer[0] = tag_sequence;
  trap->buffer[1] = long_length_2;
  trap->buffer[2] = trap->buffer[3] = 0;
  trap->write_pos = constructed_header;
  trap->room = static_cast<std::uint32_t>(snmp_trap::buffer_size - constructed_header);
  trap->message_start = trap->write_pos;
  const std::size_t community_length = ::strnlen(trap->community, snmp_trap::community_size);
  const bool ok = put_signed(trap, static_cast<std::int32_t>(trap->version)) &&
                  put_primitive(trap, snmp_type_octet_string, reinterpret_cast<const std::uint8_t*>(trap->community),
                                community_length) &&
                  put_constructed(trap, static_cast<std::uint8_t>(trap->pdu_type), &trap->pdu_header);
  if (!ok) return spoil(trap);
  trap->pdu_start = trap->write_pos;
  if (!put_signed(trap, static_cast<std::int32_t>(trap->request_id)) ||
      !put_signed(trap, static_cast<std::int32_t>(trap->error_status)) ||
      !put_signed(trap, static_cast<std::int32_t>(trap->error_index)) ||
      !put_constructed(trap, tag_sequence, &trap->bindings_header))
    return spoil(trap);
  trap->bindings_start = trap->write_pos;
  return 0;
}

int trap_pack_add(snmp_trap* trap, const std::uint32_t* oid, std::size_t oid_count, int type, const void* value,
                  std::size_t value_length) {
  if (trap == nullptr || (trap->state != snmp_trap::begun && trap->state != snmp_trap::bound)) return -1;
  std::uint32_t binding = 0;
  if (!put_constructed(trap, tag_sequence, &binding) || !put_oid(trap, oid, oid_count) ||
      !put_value(trap, type, value, value_length))
    return spoil(trap);
  put_u16(trap->buffer + binding + 2, trap->write_pos - (binding + constructed_header));
  trap->state = snmp_trap::bound;
  return 0;
}

int trap_pack_end(snmp_trap* trap) {
  if (trap == nullptr || (trap->state != snmp_trap::begun && trap->state != snmp_trap::bound)) return -1;
  if (trap->message_start == 0 || trap->pdu_header == 0 || trap->pdu_start == 0 || trap->bindings_header == 0 ||
      trap->bindings_start == 0 || !writable(*trap))
    return -1;
  put_u16(trap->buffer + trap->bindings_header + 2, trap->write_pos - trap->bindings_start);
  put_u16(trap->buffer + trap->pdu_header + 2, trap->write_pos - trap->pdu_start);
  put_u16(trap->buffer + trap->message_start - 2, trap->write_pos - trap->message_start);
  trap->length = trap->write_pos;
  trap->state = snmp_trap::ended;
  return 0;
}

std::uint32_t get_uptime() {
  // sysinfo's uptime is whole seconds rounded up, and the time of day's
  // microseconds have nothing to do with them: the boot-time clock gives
  // both parts from one reading, so the value never steps back.
  timespec now{};
  ::clock_gettime(CLOCK_BOOTTIME, &now);
  return static_cast<std::uint32_t>(static_cast<std::uint64_t>(now.tv_sec) * 100u +
                                    static_cast<std::uint64_t>(now.tv_nsec) / 10000000u);
}

int parse_oid(std::uint32_t* oid, int max, const char* text) {
  constexpr std::size_t max_text = 127;
  if (oid == nullptr || text == nullptr || max <= 0) return 0;
  const std::size_t length = ::strnlen(text, max_text + 1);
  if (length > max_text) return 0;
  const char* p = text;
  const char* end = text + length;
  if (p < end && *p == '.') ++p;
  int count = 0;
  while (p < end) {
    if (*p < '0' || *p > '9' || count == max) return 0;
    std::uint64_t v = 0;
    while (p < end && *p >= '0' && *p <= '9') {
      v = v * 10 + static_cast<std::uint64_t>(*p++ - '0');
      if (v > 0xFFFFFFFFu) return 0;
    }
    oid[count++] = static_cast<std::uint32_t>(v);
    if (p == end) break;
    if (*p != '.' || p + 1 == end) return 0;
    ++p;
  }
  return count;
}
