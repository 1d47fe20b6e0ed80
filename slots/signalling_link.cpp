#include "slots/signalling_link.h"

#include <iostream>
#include <sstream>

#include "hardware/hdlc.h"
#include "links/isdn/lapd.h"
#include "runtime/protocol.h"
#include "slots/slot.h"
#include "slots/slots.h"

namespace {

// A refusal of the request under way, with its line on the error stream.
bool refuse(Slot& slot, const char* why, LGCP::ErrorCause::NamedNumber cause) {
  std::ostringstream line;
  line << slot << ": user data of the controller not sent: " << why << "\n";
  std::cerr << line.str() << std::flush;
  Slots::instance().Error(cause);
  return false;
}

}  // namespace

bool SendUserData(Slot& slot, ProtocolsFamily& family, const GenericHDLC& channel, const std::vector<char>& data) {
  // Taken, the octets would be lost without a word: the link has nothing
  // to send them on.
  if (!channel.is_open()) return refuse(slot, "the link's channel is closed", LGCP::ErrorCause::busError);
  Packet p;
  if (!p.try_reserve_head(0)) return refuse(slot, "no packet free", LGCP::ErrorCause::insufficientResources);
  // A family without layers reserves nothing: the packet keeps its buffer.
  family.prepare_head(p);
  if (data.size() > p.tailroom()) return refuse(slot, "too long", LGCP::ErrorCause::invalidParams);
  if (!data.empty()) std::memcpy(p.put(static_cast<unsigned>(data.size())), data.data(), data.size());
  family.message(p);
  return true;
}

void ReportUserData(Slot& slot, const Packet& message) {
  const auto* first = reinterpret_cast<const char*>(message.data());
  slot.OnUserData(std::vector<char>(first, first + message.length()));
}

void ReportHdlcLinkInfo(Slot& slot, const HDLC& channel) {
  const HDLC::Counters& c = channel.counters();
  LGCP::IoctlResponse response;
  LGCP::HdlcLinkInfo& info = response.select_hdlcLinkInfo();
  info.set_txSU(c.sent);
  info.set_txDiscard(c.discarded);
  info.set_txError(c.errors);
  info.set_txOverflow(c.overflows);
  info.set_rxSU(c.received);
  slot.OnIoctlResponse(response);
}

void ReportIsdnLinkInfo(Slot& slot, const ISDN::LAPD& link) {
  ACP::IsdnLinkInfo info;
  // Set before the record is compared with the last one reported.
  info.set_side(link.side() == ISDN::Side::network ? ACP::IsdnSide::network : ACP::IsdnSide::user);
  if (!link.GetInfo(info)) return;
  LGCP::IoctlResponse response;
  response.set_isdnLinkInfo(info);
  slot.OnIoctlResponse(response);
}
