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

}  // namespace ISDN
