#pragma once
// TEI management messages (Q.921 5.3, Table 8): UI frames on SAPI 63 to the
// group TEI 127, shared by the BRI terminal side (ISDN::LAPD) and the
// network side for BRI terminals (ISDN::LAPD_NT).
//
//   Packet f = ISDN::TeiMessage::frame(ISDN::Side::user, ri, 127, ISDN::TeiMessage::identity_request);
//   ISDN::TeiMessage m;
//   if (m.parse(info)) ...            // info: the UI frame after its 3 header octets
//
// The reference number Ri travels low octet first.
#include <cstdint>

#include "links/isdn/lapd_state.h"
#include "runtime/packet.h"

namespace ISDN {

struct TeiMessage {
  enum Type : unsigned char {
    identity_request = 1,
    identity_assigned = 2,
    identity_denied = 3,
    identity_check_request = 4,
    identity_check_response = 5,
    identity_remove = 6,
    identity_verify = 7,
  };
  static constexpr unsigned char entity = 0x0F;  // layer management entity identifier
  static constexpr unsigned sapi = 63;
  static constexpr unsigned group_tei = 127;

  std::uint16_t ri = 0;
  unsigned char type = 0;
  unsigned ai = 0;  // the action indicator, without its E bit

  // The whole frame as `from` sends it: address (C/R of a command from that
  // side), UI with P = 0, then the message.
  static Packet frame(Side::type from, std::uint16_t ri, unsigned ai, unsigned char type);

  // A UI information field that starts with the management entity
  // identifier and holds a whole message; false for anything else (layer 3,
  // or a message cut short).
  bool parse(const Packet& info);
};

}  // namespace ISDN
