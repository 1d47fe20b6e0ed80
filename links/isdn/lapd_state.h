#pragma once
// The Q.921 data link's state variables, its states and the events of its
// state machine, each with the name every trace line uses.
#include <cstdint>
#include <iosfwd>

#include "runtime/cyclic.h"

namespace ISDN {

struct Side {
  enum type { user = 0, network = 1 };
};
// "user" for 0, "network" for any other value.
std::ostream& operator<<(std::ostream& s, Side::type side);

// States of the data link entity, Q.921 5 and Annex B (the standard counts
// them from 1: state k here is its state k + 1).
enum LapdState : std::uint32_t {
  ST_TEI_UNASSIGNED = 0,
  ST_ASSIGN_AWAITING_TEI = 1,
  ST_ESTABLISH_AWAITING_TEI = 2,
  ST_TEI_ASSIGNED = 3,
  ST_AWAITING_ESTABLISHMENT = 4,
  ST_AWAITING_RELEASE = 5,
  ST_MULTIPLE_FRAME_ESTABLISHED = 6,
  ST_TIMER_RECOVERY = 7,
  ST_COUNT = 8,
};
// "TEI unassigned" .. "Timer recovery"; "(unknown)" for any other number.
const char* statetext(std::uint32_t state);

// What drives the state machine: primitives from layer 3 and management,
// frames received, TEI management messages, timer expiries (Q.921 Annex B,
// 5.3).
enum LapdEvent : unsigned {
  EV_DL_ESTABLISH,  // DL-ESTABLISH request
  EV_DL_RELEASE,    // DL-RELEASE request
  EV_DL_DATA,       // DL-DATA request (after the message is queued)
  EV_MDL_ASSIGN,    // MDL-ASSIGN request
  EV_MDL_REMOVE,    // MDL-REMOVE request
  EV_RX_SABME,
  EV_RX_DISC,
  EV_RX_UA,
  EV_RX_DM,
  EV_RX_FRMR,
  EV_RX_RR,
  EV_RX_RNR,
  EV_RX_REJ,
  EV_RX_I,
  EV_RX_UI,             // UI frame carrying layer 3
  EV_TEI_ASSIGNED,      // identity assigned
  EV_TEI_DENIED,        // identity denied
  EV_TEI_CHECK,         // identity check request
  EV_TEI_REMOVE,        // identity remove
  EV_T200,
  EV_T202,
  EV_T203,
  EV_PH_DEACTIVATE,  // the channel under the link has closed
  EV_COUNT,
};
const char* event_name(unsigned event);

// Control field, first octet, P/F clear (Q.921 3.6, Table 5).
enum class FrameKind : unsigned char {
  RR = 0x01,
  RNR = 0x05,
  REJ = 0x09,
  SABME = 0x6F,
  DISC = 0x43,
  UA = 0x63,
  DM = 0x0F,
  UI = 0x03,
  FRMR = 0x87,
  XID = 0xAF,
};

using Seq = Cyclic<unsigned int, 127u>;

// The state variables (Q.921 3.5.2, 5): copied whole into every status the
// link reports.
struct LAPDFullState {
  std::uint32_t state = ST_TEI_ASSIGNED;
  std::uint32_t self_tei = 0;
  std::uint32_t self_sapi = 0;
  std::uint32_t peer_tei = 0;  // of the last frame received
  std::uint32_t peer_sapi = 0;
  std::int32_t RC = 0;           // retransmission counter
  bool peer_busy = false;        // peer receiver busy
  bool own_busy = false;         // own receiver busy (never set: congestion goes to layer 3)
  bool RejectException = false;  // a REJ is outstanding
  bool L3Initiated = false;      // layer 3 asked for the establishment
  bool Establishable = true;     // a SABME may be accepted
  bool QueuedUp = false;         // the out queue has I frames to try
  bool RetrRQ = false;           // the unacknowledged I frames go out again
  bool AckRQ = false;            // an acknowledgement is owed to the peer
  bool T200_running = false;
  bool T202_running = false;
  bool T203_running = false;
  Seq VS, VA, VR;

  // The state variables on lines of their own, each begun by "   - ".
  void print(std::ostream& s) const;
};

}  // namespace ISDN
