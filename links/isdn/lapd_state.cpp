#include "links/isdn/lapd_state.h"

#include <ostream>

namespace ISDN {

std::ostream& operator<<(std::ostream& s, Side::type side) {
  return s << (side == Side::user ? "user" : "network");
}

const char* statetext(std::uint32_t state) {
  static const char* const names[ST_COUNT] = {
      "TEI unassigned",
      "Assign awaiting TEI",
      "Establish awaiting TEI",
      "TEI assigned",
      "Awaiting establishment",
      "Awaiting release",
      "Multiple frame established",
      "Timer recovery",
  };
  return state < ST_COUNT ? names[state] : "(unknown)";
}

const char* event_name(unsigned event) {
  static const char* const names[EV_COUNT] = {
      "DL-ESTABLISH",      "DL-RELEASE",      "DL-DATA",        "MDL-ASSIGN",    "MDL-REMOVE",
      "SABME",             "DISC",            "UA",             "DM",            "FRMR",
      "RR",                "RNR",             "REJ",            "I",             "UI",
      "identity assigned", "identity denied", "identity check", "identity remove", "T200",
      "T202",              "T203",            "PH-DEACTIVATE",
  };
  return event < EV_COUNT ? names[event] : "(unknown)";
}

namespace {
const char* running(bool on) { return on ? "running" : "stopped"; }
}  // namespace

void LAPDFullState::print(std::ostream& s) const {
  s << "\n   - state: " << statetext(state)                                                     //
    << "\n   - self: TEI=" << self_tei << ", SAPI=" << self_sapi << ", busy=" << own_busy       //
    << "\n   - peer: TEI=" << peer_tei << ", SAPI=" << peer_sapi << ", busy=" << peer_busy      //
    << "\n   - counters: VS=" << unsigned(VS) << ", VA=" << unsigned(VA) << ", VR=" << unsigned(VR)  //
    << ", RC=" << RC                                                                            //
    << "\n   - internal signals: AckRQ=" << AckRQ << ", RetrRQ=" << RetrRQ << ", QueuedUp=" << QueuedUp
    << "\n   - flags: L3Initiated=" << L3Initiated << ", Establishable=" << Establishable
    << ", RejectException=" << RejectException                                              //
    << "\n   - timers: T200 " << running(T200_running) << ", T202 " << running(T202_running) << ", T203 "
    << running(T203_running);
}

}  // namespace ISDN
