#include "links/isdn/q931_trace.h"

#include <cstdarg>
#include <cstdio>
#include <cstring>

namespace ISDN {

char logbuf[logbuf_size];

namespace {

// ------------------------------------------------------------------ tables

struct MessageType {
  unsigned char code;
  const char* name;
};

// Q.931 4.2 message types.
const MessageType mtlist[] = {
    {0x01, "ALERTING"},
    {0x02, "CALL PROCEEDING"},
    {0x07, "CONNECT"},
    {0x0F, "CONNECT ACKNOWLEDGE"},
    {0x03, "PROGRESS"},
    {0x05, "SETUP"},
    {0x0D, "SETUP ACKNOWLEDGE"},
    {0x24, "HOLD"},
    {0x28, "HOLD ACKNOWLEDGE"},
    {0x30, "HOLD REJECT"},
    {0x31, "RETRIEVE"},
    {0x33, "RETRIEVE ACKNOWLEDGE"},
    {0x37, "RETRIEVE REJECT"},
    {0x26, "RESUME"},
    {0x2E, "RESUME ACKNOWLEDGE"},
    {0x22, "RESUME REJECT"},
    {0x25, "SUSPEND"},
    {0x2D, "SUSPEND ACKNOWLEDGE"},
    {0x21, "SUSPEND REJECT"},
    {0x20, "USER INFORMATION"},
    {0x45, "DISCONNECT"},
    {0x4D, "RELEASE"},
    {0x5A, "RELEASE COMPLETE"},
    {0x46, "RESTART"},
    {0x4E, "RESTART ACKNOWLEDGE"},
    {0x60, "SEGMENT"},
    {0x79, "CONGESTION CONTROL"},
    {0x7B, "INFORMATION"},
    {0x62, "FACILITY"},
    {0x6E, "NOTIFY"},
    {0x7D, "STATUS"},
    {0x75, "STATUS ENQUIRY"},
};
static_assert(sizeof mtlist / sizeof mtlist[0] == 32, "Q.931 message types");

struct Cause {
  unsigned char value;
  const char* text;
};

// Q.850 cause values.
const Cause cvlist[] = {
    {0x01, "Unallocated (unassigned) number"},
    {0x02, "No route to specified transit network"},
    {0x03, "No route to destination"},
    {0x04, "Send special information tone"},
    {0x05, "Misdialled trunk prefix"},
    {0x06, "Channel unacceptable"},
    {0x07, "Call awarded and being delivered in an established channel"},
    {0x08, "Preemption"},
    {0x09, "Preemption - circuit reserved for reuse"},
    {0x10, "Normal call clearing"},
    {0x11, "User busy"},
    {0x12, "No user responding"},
    {0x13, "No answer from user (user alerted)"},
    {0x14, "Subscriber absent"},
    {0x15, "Call rejected"},
    {0x16, "Number changed"},
    {0x1A, "Non-selected user clearing"},
    {0x1B, "Destination out of order"},
    {0x1C, "Invalid number format (address incomplete)"},
    {0x1D, "Facility rejected"},
    {0x1E, "Response to STATUS ENQUIRY"},
    {0x1F, "Normal, unspecified"},
    {0x22, "No circuit/channel available"},
    {0x26, "Network out of order"},
    {0x27, "Permanent frame mode connection out of service"},
    {0x28, "Permanent frame mode connection operational"},
    {0x29, "Temporary failure"},
    {0x2A, "Switching equipment congestion"},
    {0x2B, "Access information discarded"},
    {0x2C, "Requested circuit/channel not available"},
    {0x2E, "Precedence call blocked"},
    {0x2F, "Resource unavailable, unspecified"},
    {0x31, "Quality of service not available"},
    {0x32, "Requested facility not subscribed"},
    {0x35, "Outgoing calls barred within CUG"},
    {0x37, "Incoming calls barred within CUG"},
    {0x39, "Bearer capability not authorized"},
    {0x3A, "Bearer capability not presently available"},
    {0x3E, "Inconsistency in designated outgoing access information and subscriber class"},
    {0x3F, "Service or option not available, unspecified"},
    {0x41, "Bearer capability not implemented"},
    {0x42, "Channel type not implemented"},
    {0x43, "Requested facility not implemented"},
    {0x44, "Only restricted digital information bearer capability is available"},
    {0x4F, "Service or option not implemented, unspecified"},
    {0x51, "Invalid call reference value"},
    {0x52, "Identified channel does not exist"},
    {0x53, "A suspended call exists, but this call identity does not"},
    {0x54, "Call identity in use"},
    {0x55, "No call suspended"},
    {0x56, "Call having the requested call identity has been cleared"},
    {0x57, "User not member of CUG"},
    {0x58, "Incompatible destination"},
    {0x5A, "Non-existent CUG"},
    {0x5B, "Invalid transit network selection"},
    {0x5F, "Invalid message, unspecified"},
    {0x60, "Mandatory information element is missing"},
    {0x61, "Message type non-existent or not implemented"},
    {0x62, "Message not compatible with call state or message type non-existent or not implemented"},
    {0x63, "Information element/parameter non-existent or not implemented"},
    {0x64, "Invalid information element contents"},
    {0x65, "Message not compatible with call state"},
    {0x66, "Recovery on timer expiry"},
    {0x67, "Parameter non-existent or not implemented, passed on"},
    {0x6E, "Message with unrecognized parameter, discarded"},
    {0x6F, "Protocol error, unspecified"},
    {0x7F, "Interworking, unspecified"},
};
static_assert(sizeof cvlist / sizeof cvlist[0] == 67, "Q.850 cause values");

// ------------------------------------------------------------ bounded text

// Writes into the caller's buffer and never past it; what does not fit is
// cut, and a cut text ends in "...\n".
class Text {
 public:
  Text(char* out, std::size_t size) : p_(out), end_(out + size - 1), size_(size) {}

  void printf(const char* format, ...) __attribute__((format(printf, 2, 3))) {
    if (cut_) return;
    va_list ap;
    va_start(ap, format);
    const std::size_t room = static_cast<std::size_t>(end_ - p_) + 1;
    const int n = std::vsnprintf(p_, room, format, ap);
    va_end(ap);
    if (n < 0) return;
    if (static_cast<std::size_t>(n) >= room) {
      p_ = end_;
      cut_ = true;
    } else {
      p_ += n;
    }
  }

  // The bits of an octet from bit `start` (8 is the most significant) down,
  // `count` of them, as '0' and '1'.
  void bits(unsigned char octet, int start, int count) {
    for (int b = start; b > start - count && b >= 1; --b) printf("%c", (octet >> (b - 1)) & 1 ? '1' : '0');
  }

  // A character of a number or display text; others would corrupt the log.
  void character(unsigned char c) { printf("%c", c >= 0x20 && c < 0x7F ? c : '.'); }

  void finish() {
    *p_ = '\0';
    if (cut_ && size_ >= 5) std::memcpy(end_ - 4, "...\n", 5);
  }

 private:
  char* p_;
  char* end_;  // the place of the terminating NUL
  std::size_t size_;
  bool cut_ = false;
};

// An information element's contents: octet 3 (Q.931 numbering) is at(0).
// Octets that the element's length announces but the frame does not hold
// are absent.
class Element {
 public:
  Element(const unsigned char* contents, unsigned have) : c_(contents), have_(have) {}
  bool has(unsigned i) const { return i < have_; }
  unsigned char at(unsigned i) const { return c_[i]; }
  unsigned size() const { return have_; }

 private:
  const unsigned char* c_;
  unsigned have_;
};

// ---------------------------------------------------------------- printers

// Octets by Q.931 group: a group ends at an octet with bit 8 set; its
// continuations are numbered 3a, 3b, ...
void general(Text& t, const Element& e) {
  int number = 3;
  char suffix = ' ';
  for (unsigned i = 0; e.has(i); ++i) {
    t.printf("    octet %d%c ", number, suffix);
    t.bits(e.at(i), 8, 8);
    t.printf("\n");
    if (e.at(i) & 0x80) {
      ++number;
      suffix = ' ';
    } else {
      suffix = suffix == ' ' ? 'a' : static_cast<char>(suffix + 1);
    }
  }
}

// Q.931 4.5.5: octets 3, 4, 4.1 (multirate), then the layer 1, 2 and 3
// identification octets 5 (with extensions), 6 and 7.
void prbearer(Text& t, const Element& e) {
  unsigned i = 0;
  if (!e.has(i)) return;
  t.printf("    octet 3  ");
  t.bits(e.at(i++), 8, 8);
  t.printf("\n");
  if (!e.has(i)) return;
  const unsigned char octet4 = e.at(i++);
  t.printf("    octet 4  ");
  t.bits(octet4, 8, 8);
  t.printf("\n");
  if ((octet4 & 0x1F) == 0x18 && e.has(i)) {
    t.printf("    octet 4.1 ");
    t.bits(e.at(i++), 8, 8);
    t.printf("\n");
  }
  auto layer = [&](unsigned k) { return ((e.at(k) >> 5) & 3u); };
  if (e.has(i) && layer(i) == 1) {
    char suffix = ' ';
    for (; e.has(i); suffix = suffix == ' ' ? 'a' : static_cast<char>(suffix + 1)) {
      const unsigned char o = e.at(i++);
      t.printf("    octet 5%c ", suffix);
      t.bits(o, 8, 8);
      t.printf("\n");
      if (o & 0x80) break;
    }
  }
  if (e.has(i) && layer(i) == 2) {
    t.printf("    octet 6  ");
    t.bits(e.at(i++), 8, 8);
    t.printf("\n");
  }
  if (e.has(i) && layer(i) == 3) {
    t.printf("    octet 7  ");
    t.bits(e.at(i++), 8, 8);
    t.printf("\n");
  }
}

// Q.931 4.5.12, Q.850: coding and location, the cause value and the
// diagnostics.
void prcause(Text& t, const Element& e) {
  if (!e.has(0)) return;
  const unsigned char octet3 = e.at(0);
  t.printf("    coding ");
  t.bits(octet3, 7, 2);
  t.printf(" location ");
  t.bits(octet3, 4, 4);
  t.printf("\n");
  unsigned i = 1;
  if (!(octet3 & 0x80)) ++i;  // octet 3a, the recommendation
  if (!e.has(i)) return;
  const unsigned value = e.at(i++) & 0x7Fu;
  const char* text = nullptr;
  for (const Cause& c : cvlist)
    if (c.value == value) text = c.text;
  if (text)
    t.printf("  cause value %x : %s \n", value, text);
  else
    t.printf("Unknown cause type %x!\n", value);
  while (e.has(i)) {
    t.printf("    diag attribute %d ", e.at(i++) & 0x7F);
    if (!e.has(i)) {
      t.printf("\n");
      break;
    }
    const unsigned char rej = e.at(i++);
    t.printf(" rej %d ", rej & 0x7F);
    if ((rej & 0x80) || !e.has(i)) {
      t.printf("\n");
      break;
    }
    t.printf(" av %d\n", e.at(i++) & 0x7F);
  }
}

void octet3(Text& t, const Element& e) {
  if (!e.has(0)) return;
  t.printf("    octet 3 ");
  t.bits(e.at(0), 8, 8);
  t.printf("\n");
}

void digits(Text& t, const Element& e, unsigned from) {
  t.printf("    number digits ");
  for (unsigned i = from; e.has(i); ++i) t.character(e.at(i));
  t.printf("\n");
}

void prchident(Text& t, const Element& e) { octet3(t, e); }

void prcalled(Text& t, const Element& e) {
  if (!e.has(0)) return;
  octet3(t, e);
  digits(t, e, 1);
}

void prcalling(Text& t, const Element& e) {
  if (!e.has(0)) return;
  octet3(t, e);
  unsigned from = 1;
  if (!(e.at(0) & 0x80) && e.has(1)) {
    t.printf("    octet 3a ");
    t.bits(e.at(1), 8, 8);
    t.printf("\n");
    from = 2;
  }
  digits(t, e, from);
}

void prfacility(Text& t, const Element& e) {
  if (!e.has(0)) return;
  octet3(t, e);
  unsigned i = 1;
  while (e.has(i)) {
    t.printf("   octet 4 ");
    t.bits(e.at(i++), 8, 8);
    t.printf("\n");
    if (!e.has(i)) break;
    const unsigned n = e.at(i++) & 0x7Fu;
    t.printf("   octet 5 %u\n", n);
    t.printf("   contents ");
    for (unsigned k = 0; k < n && e.has(i); ++k) t.printf("%2x ", e.at(i++));
    t.printf("\n");
  }
}

void display(Text& t, const Element& e) {
  t.printf("   \"");
  for (unsigned i = 0; e.has(i); ++i) t.character(e.at(i));
  t.printf("\"\n");
}

struct ElementType {
  unsigned char id;
  const char* name;
  void (*print)(Text&, const Element&);
};

// Q.931 4.5 variable-length information elements of codeset 0.
const ElementType ielist[] = {
    {0x00, "Segmented message", general},
    {0x04, "Bearer capability", prbearer},
    {0x08, "Cause", prcause},
    {0x10, "Call identity", general},
    {0x14, "Call state", general},
    {0x18, "Channel identification", prchident},
    {0x1C, "Facility", prfacility},
    {0x1E, "Progress indicator", general},
    {0x20, "Network-specific facilities", general},
    {0x27, "Notification indicator", general},
    {0x28, "Display", display},
    {0x29, "Date/Time", general},
    {0x2C, "Keypad facility", general},
    {0x34, "Signal", general},
    {0x40, "Information rate", general},
    {0x42, "End-to-end delay", general},
    {0x43, "Transit delay selection and indication", general},
    {0x44, "Packet layer binary parameters", general},
    {0x45, "Packet layer window size", general},
    {0x46, "Packet size", general},
    {0x47, "Closed user group", general},
    {0x4A, "Reverse charge indication", general},
    {0x6C, "Calling party number", prcalling},
    {0x6D, "Calling party subaddress", general},
    {0x70, "Called party number", prcalled},
    {0x71, "Called party subaddress", general},
    {0x74, "Redirecting number", general},
    {0x78, "Transit network selection", general},
    {0x79, "Restart indicator", general},
    {0x7C, "Low layer compatibility", general},
    {0x7D, "High layer compatibility", general},
    {0x7E, "User-user", general},
    {0x7F, "Escape for extension", general},
};
static_assert(sizeof ielist / sizeof ielist[0] == 33, "Q.931 information elements");

// A frame's hex line shows this many octets at most, so that the decoded
// message still fits a trace buffer after a long frame.
constexpr unsigned hex_octets = 96;

// Q.931 4.5.1: single-octet elements, by bits 7 to 5.
void single_octet(Text& t, unsigned char o) {
  switch ((o >> 4) & 7) {
    case 1: t.printf("  Shift %x\n", o & 0x0F); break;
    case 2:
      if (o == 0xA0) t.printf("  More data\n");
      if (o == 0xA1) t.printf("  Sending complete\n");
      break;
    case 3: t.printf("  Congestion level %x\n", o & 0x0F); break;
    case 5: t.printf("  Repeat indicator %x\n", o & 0x0F); break;
    default: t.printf("  Reserved %x\n", o); break;
  }
}

void layer3(Text& t, const unsigned char* m, unsigned size) {
  if (m[0] != 0x08) {
    t.printf("Unknown protocol %x!", m[0]);
    return;
  }
  // Q.931 4.3: the length of the call reference is in bits 4 to 1 of the
  // octet after the discriminator (1 octet on basic access, 2 on primary
  // rate); the flag is bit 8 of its first octet.
  if (size < 2) {
    t.printf("frame too short\n");
    return;
  }
  const unsigned crlen = m[1] & 0x0Fu;
  if (crlen > 4) {
    t.printf("call reference length %u not supported\n", crlen);
    return;
  }
  unsigned i = 2;
  if (size < i + crlen + 1) {
    t.printf("frame too short\n");
    return;
  }
  unsigned long callref = 0;
  bool flag = false;
  for (unsigned k = 0; k < crlen; ++k) {
    const unsigned char o = m[i++];
    if (k == 0) flag = (o & 0x80) != 0;
    callref = callref << 8 | (k == 0 ? o & 0x7Fu : o);
  }
  const unsigned char type = m[i++];
  char length[24] = "";
  if (crlen != 1) std::snprintf(length, sizeof length, " (%u octets)", crlen);
  const char* name = nullptr;
  for (const MessageType& mt : mtlist)
    if (mt.code == type) name = mt.name;
  if (name)
    t.printf("callref %lu %s%s size %u message type %s\n", callref, flag ? "called" : "caller", length, size, name);
  else
    t.printf("callref %lu %s%s size %u unknown message type %x!\n", callref, flag ? "called" : "caller", length, size,
             type);

  while (i < size) {
    const unsigned char id = m[i];
    if (id & 0x80) {
      single_octet(t, id);
      ++i;
      continue;
    }
    const unsigned declared = i + 1 < size ? m[i + 1] : 0;
    const unsigned start = i + 2 < size ? i + 2 : size;
    const unsigned have = size - start < declared ? size - start : declared;
    const ElementType* type_of = nullptr;
    for (const ElementType& et : ielist)
      if (et.id == id) type_of = &et;
    if (type_of) {
      t.printf("  %s\n", type_of->name);
      type_of->print(t, Element(m + start, have));
    } else {
      t.printf("  attribute %x attribute size %u\n", id, declared);
    }
    if (i + 1 >= size || have < declared) {
      t.printf("  (element cut by the end of the frame)\n");
      return;
    }
    i = start + declared;
  }
}

}  // namespace

void dlogframe(const unsigned char* frame, unsigned length, int direction, char* out, std::size_t outSize) {
  if (!out || outSize == 0) return;
  Text t(out, outSize);
  for (unsigned i = 0; i < length && i < hex_octets; ++i) t.printf(" %02X", frame[i]);
  if (length > hex_octets) t.printf(" ... (%u octets)", length);
  t.printf("\n");
  if (length < 3) {
    t.printf("frame too short\n");
    t.finish();
    return;
  }
  const unsigned sapi = frame[0] >> 2;
  const unsigned tei = frame[1] >> 1;
  const unsigned char control = frame[2];
  t.printf("frame %s ", direction ? "network->user" : "user->network");
  unsigned l3 = 0;
  if (tei == 127) {
    if (sapi == 63) {
      t.printf("tei management:\n");
    } else if (sapi != 0) {
      t.printf("unknown sapi %u broadcast\n", sapi);
    } else if (control == 0x03) {
      t.printf("broadcast\n");
      l3 = 3;
    } else {
      t.printf("no UI broadcast\n");
    }
  } else if (sapi != 0) {
    t.printf("unknown sapi = %u; tei = %u\n", sapi, tei);
  } else if (control & 0x01) {
    t.printf("SFrame tei = %u (", tei);
    for (unsigned i = 2; i < length && i < hex_octets; ++i) t.printf("%02X ", frame[i]);
    t.printf(")\n");
  } else {
    t.printf("IFrame tei = %u\n", tei);
    l3 = 4;
  }
  if (l3) {
    if (l3 >= length)
      t.printf("frame too short\n");
    else
      layer3(t, frame + l3, length - l3);
  }
  t.finish();
}

}  // namespace ISDN
