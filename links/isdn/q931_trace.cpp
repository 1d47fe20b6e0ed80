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
  Text(char* out, std::size_t size) : begin_(out), p_(out), end_(out + size - 1), size_(size) {}

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
    char b[8];
    const int n = printbits(b, &octet, start, count < 8 ? count : 8);
    printf("%.*s", n, b);
  }

  // A character of a number or display text; others would corrupt the log.
  void character(unsigned char c) { printf("%c", c >= 0x20 && c < 0x7F ? c : '.'); }

  void finish() {
    *p_ = '\0';
    if (cut_ && size_ >= 5) std::memcpy(end_ - 4, "...\n", 5);
  }

  // Characters written, the terminating NUL not counted.
  int length() const { return static_cast<int>(p_ - begin_); }

 private:
  char* begin_;
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
  // The index of the octet after the group that starts at octet i (its
  // extension octets included); size() when the group runs to the end.
  unsigned after_group(unsigned i) const {
    return static_cast<unsigned>(skipext(c_ + i, c_ + have_) - c_);
  }

 private:
  const unsigned char* c_;
  unsigned have_;
};

// ---------------------------------------------------------------- printers

// Octets by Q.931 group: a group ends at an octet with bit 8 set; its
// continuations are numbered 3a, 3b, ...
void ie_general(Text& t, const Element& e) {
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
void ie_bearer(Text& t, const Element& e) {
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
void ie_cause(Text& t, const Element& e) {
  if (!e.has(0)) return;
  const unsigned char octet3 = e.at(0);
  t.printf("    coding ");
  t.bits(octet3, 7, 2);
  t.printf(" location ");
  t.bits(octet3, 4, 4);
  t.printf("\n");
  unsigned i = e.after_group(0);  // octet 3 and 3a, the recommendation
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

void ie_chident(Text& t, const Element& e) { octet3(t, e); }

void ie_called(Text& t, const Element& e) {
  if (!e.has(0)) return;
  octet3(t, e);
  digits(t, e, 1);
}

void ie_calling(Text& t, const Element& e) {
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

void ie_facility(Text& t, const Element& e) {
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

void ie_display(Text& t, const Element& e) {
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
    {0x00, "Segmented message", ie_general},
    {0x04, "Bearer capability", ie_bearer},
    {0x08, "Cause", ie_cause},
    {0x10, "Call identity", ie_general},
    {0x14, "Call state", ie_general},
    {0x18, "Channel identification", ie_chident},
    {0x1C, "Facility", ie_facility},
    {0x1E, "Progress indicator", ie_general},
    {0x20, "Network-specific facilities", ie_general},
    {0x27, "Notification indicator", ie_general},
    {0x28, "Display", ie_display},
    {0x29, "Date/Time", ie_general},
    {0x2C, "Keypad facility", ie_general},
    {0x34, "Signal", ie_general},
    {0x40, "Information rate", ie_general},
    {0x42, "End-to-end delay", ie_general},
    {0x43, "Transit delay selection and indication", ie_general},
    {0x44, "Packet layer binary parameters", ie_general},
    {0x45, "Packet layer window size", ie_general},
    {0x46, "Packet size", ie_general},
    {0x47, "Closed user group", ie_general},
    {0x4A, "Reverse charge indication", ie_general},
    {0x6C, "Calling party number", ie_calling},
    {0x6D, "Calling party subaddress", ie_general},
    {0x70, "Called party number", ie_called},
    {0x71, "Called party subaddress", ie_general},
    {0x74, "Redirecting number", ie_general},
    {0x78, "Transit network selection", ie_general},
    {0x79, "Restart indicator", ie_general},
    {0x7C, "Low layer compatibility", ie_general},
    {0x7D, "High layer compatibility", ie_general},
    {0x7E, "User-user", ie_general},
    {0x7F, "Escape for extension", ie_general},
};
static_assert(sizeof ielist / sizeof ielist[0] == 33, "Q.931 information elements");

// ------------------------------------------- variants no trace selects

// National ISDN-1 feature indication (octet 3 the feature, 3a when
// extended, octet 4 its status in bits 4 to 1).
void ie_feature_indication(Text& t, const Element& e) {
  if (!e.has(0)) return;
  unsigned feature = e.at(0) & 0x7Fu;
  unsigned i = 1;
  if (!(e.at(0) & 0x80) && e.has(i)) feature = feature << 7 | (e.at(i++) & 0x7Fu);
  t.printf("    feature %u\n", feature);
  if (!e.has(i)) return;
  static const char* const status[] = {"Idle", "Active", "Prompt", "Pending"};
  const unsigned v = e.at(i) & 0x0Fu;
  t.printf("    status %s\n", v < 4 ? status[v] : "(Reserved)");
}

// National ISDN-1 bearer capability: its octets numbered from 3 on, with
// no extension groups.
void ie_bearer_ni1(Text& t, const Element& e) {
  for (unsigned i = 0; e.has(i); ++i) {
    t.printf("    octet %u  ", 3 + i);
    t.bits(e.at(i), 8, 8);
    t.printf("\n");
  }
}

// National ISDN-1 elements of codeset 0; keypad digits and the service
// profile identifier (SPID) print as text.
const ElementType ielist_ni1[] = {
    {0x04, "Bearer capability", ie_bearer_ni1},
    {0x08, "Cause", ie_general},
    {0x14, "Call state", ie_general},
    {0x18, "Channel identification", ie_general},
    {0x1E, "Progress indicator", ie_general},
    {0x27, "Notification indicator", ie_general},
    {0x2C, "Keypad facility", ie_display},
    {0x32, "Information request", ie_general},
    {0x34, "Signal", ie_general},
    {0x38, "Feature activation", ie_general},
    {0x39, "Feature indication", ie_feature_indication},
    {0x3A, "Service profile identification", ie_display},
    {0x3B, "Endpoint identifier", ie_general},
    {0x6C, "Calling party number", ie_general},
    {0x6D, "Calling party subaddress", ie_general},
    {0x70, "Called party number", ie_general},
    {0x71, "Called party subaddress", ie_general},
    {0x74, "Redirecting number", ie_general},
    {0x78, "Transit network selection", ie_general},
    {0x7C, "Low layer compatibility", ie_general},
    {0x7D, "High layer compatibility", ie_general},
};
static_assert(sizeof ielist_ni1 / sizeof ielist_ni1[0] == 21, "National ISDN-1 information elements");

// Cause values of the German national protocol 1TR6.
const Cause cause_1tr6[] = {
    {0x01, "Invalid call reference value"},
    {0x03, "Bearer service not implemented"},
    {0x07, "Call identity does not exist"},
    {0x08, "Call identity in use"},
    {0x0A, "No channel available"},
    {0x10, "Requested facility not implemented"},
    {0x11, "Requested facility not subscribed"},
    {0x20, "Outgoing calls barred"},
    {0x21, "User access busy"},
    {0x22, "Negative closed user group comparison"},
    {0x23, "Non-existent closed user group"},
    {0x25, "Communication as semi-permanent connection not permitted"},
    {0x35, "Destination not obtainable"},
    {0x38, "Number changed"},
    {0x39, "Out of order"},
    {0x3A, "No user responding"},
    {0x3B, "User busy"},
    {0x3D, "Incoming calls barred"},
    {0x3E, "Call rejected"},
    {0x59, "Network congestion"},
    {0x5A, "Remote user initiated clearing"},
    {0x70, "Local procedure error"},
    {0x71, "Remote procedure error"},
    {0x72, "Remote user suspended"},
    {0x73, "Remote user resumed"},
    {0x7F, "User info discarded locally"},
};
static_assert(sizeof cause_1tr6 / sizeof cause_1tr6[0] == 26, "1TR6 cause values");

// 1TR6: an empty cause is normal call clearing; octet 3 the value, octet 4
// the location.
void ie_cause_1tr6(Text& t, const Element& e) {
  if (!e.has(0)) {
    t.printf("  cause value 0 : Normal call clearing \n");
    return;
  }
  const unsigned value = e.at(0) & 0x7Fu;
  const char* text = nullptr;
  for (const Cause& c : cause_1tr6)
    if (c.value == value) text = c.text;
  if (text)
    t.printf("  cause value %x : %s \n", value, text);
  else
    t.printf("Unknown cause type %x!\n", value);
  if (!e.has(1)) return;
  t.printf("    location ");
  t.bits(e.at(1), 4, 4);
  t.printf("\n");
}

// 1TR6 charging information: octet 3 the kind, then the units in IA5.
void ie_charge(Text& t, const Element& e) {
  if (!e.has(0)) return;
  t.printf("    octet 3 ");
  t.bits(e.at(0), 8, 8);
  t.printf("\n    units ");
  for (unsigned i = 1; e.has(i); ++i) t.character(e.at(i));
  t.printf("\n");
}

struct DisplayTag {
  unsigned char tag;
  const char* name;
};

// Tags of a display made of tagged fields (North American national
// variants).
const DisplayTag dtaglist[] = {
    {0x82, "Calling number"},
    {0x83, "Called address"},
    {0x84, "Cause"},
    {0x85, "Progress indicator"},
    {0x86, "Notification indicator"},
    {0x87, "Prompt"},
    {0x88, "Accumulated digits"},
    {0x89, "Status"},
    {0x8A, "Inband"},
    {0x8B, "Calling address"},
    {0x8C, "Reason"},
    {0x8D, "Calling party name"},
    {0x8E, "Called party name"},
    {0x8F, "Original called name"},
    {0x90, "Redirecting name"},
    {0x91, "Connected name"},
    {0x92, "Originating restrictions"},
    {0x93, "Date and time of day"},
    {0x94, "Call appearance ID"},
    {0x95, "Feature address"},
    {0x96, "Redirection name"},
    {0x9E, "Text"},
};
static_assert(sizeof dtaglist / sizeof dtaglist[0] == 22, "display tags");

const char* tag_name(unsigned char tag) {
  for (const DisplayTag& d : dtaglist)
    if (d.tag == tag) return d.name;
  return nullptr;
}

// A display of tagged fields: tag (bit 8 set), length, characters. A
// display that does not start with a tag is plain text.
void ie_tagged_display(Text& t, const Element& e) {
  if (!e.has(0) || !(e.at(0) & 0x80)) {
    ie_display(t, e);
    return;
  }
  unsigned i = 0;
  while (e.has(i)) {
    const unsigned char tag = e.at(i++);
    if (const char* name = tag_name(tag))
      t.printf("    %s: \"", name);
    else
      t.printf("    tag %x: \"", tag);
    const unsigned n = e.has(i) ? e.at(i++) : 0u;
    for (unsigned k = 0; k < n && e.has(i); ++k) t.character(e.at(i++));
    t.printf("\"\n");
  }
}

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
  // The dummy call reference (no octet) prints as call reference 0.
  if (crlen > 1) std::snprintf(length, sizeof length, " (%u octets)", crlen);
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

namespace {

// One element printer as the public interface has it: the element whole in
// memory, its length from its own length octet.
template <void (*Print)(Text&, const Element&)>
int print_element(char* out, const unsigned char* ie, std::size_t room) {
  if (!out || room == 0) return 0;
  Text t(out, room);
  if (ie) Print(t, Element(ie + 2, ie[1]));
  t.finish();
  return t.length();
}

}  // namespace

int general(char* out, const unsigned char* ie, std::size_t room) { return print_element<ie_general>(out, ie, room); }
int prbearer(char* out, const unsigned char* ie, std::size_t room) { return print_element<ie_bearer>(out, ie, room); }
int prcause(char* out, const unsigned char* ie, std::size_t room) { return print_element<ie_cause>(out, ie, room); }
int prchident(char* out, const unsigned char* ie, std::size_t room) {
  return print_element<ie_chident>(out, ie, room);
}
int prfacility(char* out, const unsigned char* ie, std::size_t room) {
  return print_element<ie_facility>(out, ie, room);
}
int display(char* out, const unsigned char* ie, std::size_t room) { return print_element<ie_display>(out, ie, room); }
int prcalling(char* out, const unsigned char* ie, std::size_t room) {
  return print_element<ie_calling>(out, ie, room);
}
int prcalled(char* out, const unsigned char* ie, std::size_t room) { return print_element<ie_called>(out, ie, room); }

int prbearer_ni1(char* out, const unsigned char* ie, std::size_t room) {
  return print_element<ie_bearer_ni1>(out, ie, room);
}
int prfeatureind(char* out, const unsigned char* ie, std::size_t room) {
  return print_element<ie_feature_indication>(out, ie, room);
}
int prcause_1tr6(char* out, const unsigned char* ie, std::size_t room) {
  return print_element<ie_cause_1tr6>(out, ie, room);
}
int prcharge(char* out, const unsigned char* ie, std::size_t room) { return print_element<ie_charge>(out, ie, room); }
int disptext_tags(char* out, const unsigned char* ie, std::size_t room) {
  return print_element<ie_tagged_display>(out, ie, room);
}

int ni1_element(char* out, const unsigned char* ie, std::size_t room) {
  if (!out || room == 0) return 0;
  Text t(out, room);
  if (ie) {
    const ElementType* type_of = nullptr;
    for (const ElementType& et : ielist_ni1)
      if (et.id == ie[0]) type_of = &et;
    if (type_of) {
      t.printf("  %s\n", type_of->name);
      type_of->print(t, Element(ie + 2, ie[1]));
    } else {
      t.printf("  attribute %x attribute size %u\n", ie[0], ie[1]);
    }
  }
  t.finish();
  return t.length();
}

const char* cause_1tr6_text(unsigned char value) {
  for (const Cause& c : cause_1tr6)
    if (c.value == value) return c.text;
  return nullptr;
}

const char* display_tag(unsigned char tag) { return tag_name(tag); }

int printbits(char* out, const unsigned char* octet, int start, int count) {
  int n = 0;
  for (int b = start; n < count && b >= 1 && b <= 8; --b) out[n++] = (*octet >> (b - 1)) & 1 ? '1' : '0';
  return n;
}

const unsigned char* skipext(const unsigned char* p) {
  while (!(*p & 0x80)) ++p;
  return p + 1;
}

const unsigned char* skipext(const unsigned char* p, const unsigned char* end) {
  while (p < end && !(*p & 0x80)) ++p;
  return p < end ? p + 1 : end;
}

int QuickHex(char* out, const unsigned char* p, int count, std::size_t room) {
  if (!out || room == 0) return 0;
  Text t(out, room);
  for (int i = 0; i < count; ++i) t.printf(" %02X", p[i]);
  t.finish();
  return t.length();
}

}  // namespace ISDN
