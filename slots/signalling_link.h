#pragma once
// What the slots that run a signalling link (PSTN, ISDN, ATS-QSIG, HDLC
// link) share: layer-3 messages between the controller and the top of the
// slot's protocol family, and the statistics of channels and links as
// signals.
#include <vector>

#include "runtime/packet.h"

class GenericHDLC;
class HDLC;
class ProtocolsFamily;
class Slot;
namespace ISDN {
class LAPD;
}

// A link's log level from the controller's number (none below 0).
inline unsigned LinkLogLevel(int value) { return value < 0 ? 0u : static_cast<unsigned>(value); }

// The controller's octets down the family as one packet, with the head room
// every layer of it needs. False when they cannot go (the channel under the
// link is closed: its driver has gone, or the link is not connected; no
// packet free; more octets than a packet holds): the request has then been
// answered with the cause, and a line written to the error stream.
bool SendUserData(Slot& slot, ProtocolsFamily& family, const GenericHDLC& channel, const std::vector<char>& data);
// A message that left the top of the family, to the controller as userData.
void ReportUserData(Slot& slot, const Packet& message);
// The channel's counters as hdlcLinkInfo.
void ReportHdlcLinkInfo(Slot& slot, const HDLC& channel);
// The link's statistics as isdnLinkInfo, carrying the link's own side, when
// they changed since the last report.
void ReportIsdnLinkInfo(Slot& slot, const ISDN::LAPD& link);
