#pragma once
// SNMPv2c trap messages (SNMPv2-Trap PDU) in BER, built into a fixed buffer
// by plain functions over one record:
//
//   snmp_trap t;
//   snmp_session_seed(&t, seed);            // once
//   trap_init(&t, "community");             // per message: next request id
//   trap_pack_begin(&t);
//   trap_pack_add(&t, oid, n, snmp_type_integer, &value, 4);   // per binding
//   trap_pack_end(&t);                      // message = t.buffer[0 .. t.length)
//
// The three constructed headers (message, PDU, binding list) are written
// with a two-byte length at once and filled in by trap_pack_end; every
// binding has the same two-byte form. Primitive values take the shortest
// length form. Functions return 0 for success and -1 for failure.
#include <cstddef>
#include <cstdint>

// The value types trap_pack_add writes; each is the BER tag it writes.
enum snmp_type : int {
  snmp_type_integer = 2,       // 4 bytes, a native int32
  snmp_type_bit_string = 3,    // the bytes as content, at least one
  snmp_type_octet_string = 4,  // the bytes as content, none allowed
  snmp_type_null = 5,
  snmp_type_object_id = 6,     // native uint32 components, 4 bytes each
  snmp_type_ip_address = 64,   // the bytes as content
  snmp_type_counter32 = 65,    // 4 bytes, a native uint32
  snmp_type_gauge32 = 66,      // 4 bytes, a native uint32
  snmp_type_timeticks = 67,    // 4 bytes, a native uint32
  snmp_type_opaque = 68,       // the bytes as content
  snmp_type_nsap_address = 69, // the bytes as content
  snmp_type_uinteger32 = 71,   // 4 bytes, a native uint32
};

// One message being built. The marks are byte positions in buffer; 0 means
// unset (no mark can lie at the buffer's first byte, which is the message
// header's own).
struct snmp_trap {
  static constexpr std::size_t buffer_size = 2048;
  static constexpr std::size_t community_size = 32;  // 31 characters and a NUL
  static constexpr std::uint32_t pdu_trap_v2 = 0xA7;

  enum build_state : std::uint32_t { fresh = 0, begun = 1, bound = 2, ended = 3 };

  std::uint32_t version;
  std::uint32_t pdu_type;
  std::uint32_t request_id;
  std::uint32_t error_status;
  std::uint32_t error_index;
  char community[community_size];
  std::uint32_t state;
  std::uint8_t buffer[buffer_size];
  std::uint32_t room;    // bytes still free after the write position
  std::uint32_t length;  // of the finished message
  std::uint32_t message_start;   // first byte after the message header
  std::uint32_t pdu_header;
  std::uint32_t pdu_start;
  std::uint32_t bindings_header;
  std::uint32_t bindings_start;
  std::uint32_t write_pos;
};

// Stores seed as the request id the next trap_init steps from.
int snmp_session_seed(snmp_trap* trap, std::uint32_t seed);
// Starts a message: the next request id (a linear congruential step of the
// previous one, odd, below 2^31), error status and index 0, the community
// (the first 31 characters of community, "tarnel" when null), an empty
// buffer in build state fresh.
int trap_init(snmp_trap* trap, const char* community);
// Writes the headers up to the binding list. Only once per trap_init.
int trap_pack_begin(snmp_trap* trap);
// Appends one variable binding {oid, value of the given type}. A binding
// that fails (bad type, bad value, no room) spoils the message: every later
// add and the end fail until the next trap_init.
int trap_pack_add(snmp_trap* trap, const std::uint32_t* oid, std::size_t oid_count, int type, const void* value,
                  std::size_t value_length);
// Fills the three header lengths and sets length.
int trap_pack_end(snmp_trap* trap);

// Time since boot in hundredths of a second (TimeTicks, wraps at 2^32).
std::uint32_t get_uptime();

// Reads a dotted decimal OID text ("1.3.6.1.2.1.1.3.0"; a leading dot, as
// net-snmp prints them, is allowed) into at most max components. Returns the
// number stored, or 0 when oid or text is null, max is not positive, or the
// text does not read whole: a part that is not a decimal number below 2^32,
// an empty part inside the text, more parts than max, or a text longer
// than 127 characters.
int parse_oid(std::uint32_t* oid, int max, const char* text);
