#pragma once
// Text of one D-channel frame for the LAPD traces: a hex line, the Q.921
// address and frame class, then the Q.931 message (ITU-T Q.931 message
// types, information elements, Q.850 cause values).
//
//   ISDN::dlogframe(frame, len, 1, ISDN::logbuf);   // network -> user
//   std::clog << "rx:" << ISDN::logbuf;
//
// The decoder keeps no state and never reads past the frame or writes past
// the buffer: a text that would not fit is cut and ends in "...\n". Every
// call leaves a fresh text in the buffer, so a frame too short to decode is
// traced as such, never with an earlier frame's text.
#include <cstddef>

namespace ISDN {

constexpr std::size_t logbuf_size = 1024;
// The buffer the LAPD links decode their traces into (one thread: shared).
extern char logbuf[logbuf_size];

// direction non-zero: the frame goes from the network to the user.
void dlogframe(const unsigned char* frame, unsigned length, int direction, char* out,
               std::size_t outSize = logbuf_size);

// The printers of one information element, as dlogframe uses them for the
// elements of ielist: `ie` points at the element's identifier, its length
// octet follows and the element must lie whole in memory. Each writes its
// text and a NUL into out, room characters at most (a longer text is cut
// as above), and returns the characters written without the NUL.
int general(char* out, const unsigned char* ie, std::size_t room = logbuf_size);
int prbearer(char* out, const unsigned char* ie, std::size_t room = logbuf_size);
int prcause(char* out, const unsigned char* ie, std::size_t room = logbuf_size);
int prchident(char* out, const unsigned char* ie, std::size_t room = logbuf_size);
int prfacility(char* out, const unsigned char* ie, std::size_t room = logbuf_size);
int display(char* out, const unsigned char* ie, std::size_t room = logbuf_size);
int prcalling(char* out, const unsigned char* ie, std::size_t room = logbuf_size);
int prcalled(char* out, const unsigned char* ie, std::size_t room = logbuf_size);

// Writes `count` characters '0' and '1', the bits of *octet from bit
// `start` down (8 is the most significant); no NUL. Returns the number
// written: count, unless the bits run out below bit 1.
int printbits(char* out, const unsigned char* octet, int start, int count);

// The octet after the first one, from p on, with bit 8 set: past a Q.931
// group and its extension octets. The second form never goes past end and
// returns end when no octet there ends the group.
const unsigned char* skipext(const unsigned char* p);
const unsigned char* skipext(const unsigned char* p, const unsigned char* end);

// What no trace selects, for other variants of the protocol: the National
// ISDN-1 elements (one element, its name line then its text, like
// dlogframe's), their bearer capability and feature indication printers,
// the 1TR6 cause values and cause and charging printers, the tags of a
// display made of tagged fields and its printer. Lookups give nullptr for
// an unknown value.
int ni1_element(char* out, const unsigned char* ie, std::size_t room = logbuf_size);
int prbearer_ni1(char* out, const unsigned char* ie, std::size_t room = logbuf_size);
int prfeatureind(char* out, const unsigned char* ie, std::size_t room = logbuf_size);
const char* cause_1tr6_text(unsigned char value);
int prcause_1tr6(char* out, const unsigned char* ie, std::size_t room = logbuf_size);
int prcharge(char* out, const unsigned char* ie, std::size_t room = logbuf_size);
const char* display_tag(unsigned char tag);
int disptext_tags(char* out, const unsigned char* ie, std::size_t room = logbuf_size);

// " %02X" for each of count octets, and a NUL; returns the characters
// written without it.
int QuickHex(char* out, const unsigned char* p, int count, std::size_t room = logbuf_size);

}  // namespace ISDN
