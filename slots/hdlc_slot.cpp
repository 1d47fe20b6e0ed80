#include "slots/hdlc_slot.h"

#include <cstring>
#include <iostream>
#include <sstream>

#include "asn1/abstract_data.h"
#include "control/tpkt_protocol.h"
#include "runtime/ext_out.h"
#include "runtime/traces.h"
#include "slots/signalling_link.h"
#include "slots/slots.h"

namespace {

// Address and control octet in front of every body.
constexpr unsigned header_octets = 3;
// What a package costs in the signal besides its body (length determinant
// and alignment), and what the signal costs besides its packages: both
// rounded up, so that a batch within the budget always fits one
// control-link frame.
constexpr std::size_t package_overhead = 4;
constexpr std::size_t signal_overhead = 32;
constexpr std::size_t batch_octets = Tpkt_protocol::max_payload - signal_overhead;

}  // namespace

HdlcSlot::HdlcSlot(int trunk, int log, std::uint16_t address)
    : trunkIndex(static_cast<std::uint32_t>(trunk) - 1u), address(address) {
  channel.bind(this);
  channel.set_trunk(trunk);
  channel.set_log(log);
  response.select_hdlcPackages();
  trace("trunk=" + std::to_string(trunkIndex) + ", address=" + std::to_string(address));
  statistics.set(statistics_ms, &HdlcSlot::OnUpdateTimer, this);
}

HdlcSlot::~HdlcSlot() { channel.unbind(); }

void HdlcSlot::PutHeader(std::ostream& s) const { s << "HdlcSlot[" << trunkIndex << "/*]: "; }

void HdlcSlot::log(const std::string& text) const {
  std::ostringstream line;
  line << ext::header(this) << text << "\n";
  std::clog << line.str() << std::flush;
}

void HdlcSlot::trace(const std::string& text) const {
  if (traces.signalling_hdlc) log(text);
}

// ---- connection ----

void HdlcSlot::bindTo(int tdm) {
  channel.set_tdm(tdm);
  channel.set_mode(1);
  if (tdm != -1) iactivate();
}

void HdlcSlot::iactivate() {
  trace("Try to activate HDCL, params.tdm = " + std::to_string(channel.tdm()));
  if (!channel.activate()) {
    OnDeactivated();
    return;
  }
  trace("HDLC activated successfully");
}

bool HdlcSlot::IHwConnectTransmitter(Slot& receiver) {
  trace("IHwConnectTransmitter");
  bindTo(receiver.IGetReceiveChannel());
  return true;
}

bool HdlcSlot::IHwConnectReceiver(Slot& source) {
  trace("IHwConnectReceiver");
  bindTo(source.IGetTransmitChannel());
  return true;
}

bool HdlcSlot::IHwDisconnectTransmitter(Slot& receiver) {
  trace("IHwDisconnectTransmitter");
  Slot::IHwDisconnectTransmitter(receiver);
  channel.deactivate();
  return true;
}

// The channel both heard and drove the source's TDM channel; closing it
// undoes both paths.
bool HdlcSlot::IHwDisconnectReceiver(Slot&) {
  trace("IHwDisconnectReceiver");
  channel.deactivate();
  return true;
}

bool HdlcSlot::IActivate(const TERM::TermActivateParams&) {
  trace("IActivate");
  iactivate();
  return true;
}

bool HdlcSlot::IDeactivate() {
  OnUpdateTimer();
  return true;
}

// ---- sending ----

bool HdlcSlot::Ioctl(const LGCP::IoctlParams& params) {
  if (params.getSelection() != LGCP::IoctlParams::e_hdlcPackages) return false;
  const ASN1::SEQUENCE_OF<LGCP::HdlcPackage>& packages = params.get_hdlcPackages();
  unsigned refused = 0;
  bool noBuffer = false;
  for (const LGCP::HdlcPackage& package : packages) {
    const ASN1::OCTET_STRING& body = package.get_body();
    Packet frame;
    if (body.size() > packet_max_size - header_octets || !frame.try_reserve_head(0)) {
      noBuffer = true;
      ++refused;
      continue;
    }
    frame.put16_b(address);
    frame.put8(static_cast<unsigned char>((sendCounter << 5 & 0xE0) | peerCounter));
    if (!body.empty()) std::memcpy(frame.put(static_cast<unsigned>(body.size())), body.data(), body.size());
    ++sendCounter;
    trace("enqueue package: \n" + frame.text());
    if (!queue.put(frame)) ++refused;
    if (!queue.empty() && channel.is_ready()) on_hdlc_ready();
  }
  if (refused == 0) return true;
  log(std::to_string(refused) + " of " + std::to_string(packages.size()) + " packages not sent: " +
      (noBuffer ? "no packet buffer" : "transmit queue full"));
  Slots::instance().Error(LGCP::ErrorCause::insufficientResources);
  return false;
}

void HdlcSlot::on_hdlc_ready() {
  Packet frame;
  while (queue.preview(&frame)) {
    if (!channel.hdlc_transmit(frame)) return;  // stays first for the next readiness
    queue.get(frame);
    trace("on_hdlc_ready\n" + frame.text());
  }
}

// ---- receiving ----

void HdlcSlot::on_hdlc_receive(Packet& frame) {
  trace("on_hdlc_receive\n" + frame.text());
  if (frame.length() < 2) {
    log("frame of " + std::to_string(frame.length()) + " octets without an address dropped");
    return;
  }
  const std::uint16_t to = frame.pull16_b();
  const std::uint8_t control = frame.pull8();  // 0 when the frame ends after the address
  if (to == address) {
    peerCounter = control >> 5;
    enqResponce(frame.data(), frame.length());
  }
  // The fifth octet's top bit asks for the batch to wait for more frames;
  // a frame without one ends the batch.
  if (frame.length() >= 2 && (frame[1] & 0x80)) {
    if (!flush.isSet()) flush.set(flush_ms, &HdlcSlot::flushResponce, this);
    return;
  }
  flush.reset();
  flushResponce();
}

void HdlcSlot::enqResponce(const unsigned char* body, std::size_t length) {
  if (length > ASN1::MaximumStringSize) {
    log("body of " + std::to_string(length) + " octets dropped: longer than the controller takes");
    return;
  }
  // A batch that would grow past what the controller decodes goes first.
  if (responseOctets + length + package_overhead > batch_octets) flushResponce();
  LGCP::HdlcPackage& package = response.get_hdlcPackages().push_back();
  package.get_body().assign(reinterpret_cast<const char*>(body), reinterpret_cast<const char*>(body) + length);
  responseOctets += length + package_overhead;
  if (response.get_hdlcPackages().size() >= batch_packages) flushResponce();
}

void HdlcSlot::flushResponce() {
  const unsigned pending = response.get_hdlcPackages().size();
  trace("flushResponce: " + std::to_string(pending));
  if (pending > 0) OnIoctlResponse(response);
  response.get_hdlcPackages().clear();
  responseOctets = 0;
}

// ---- statistics and errors ----

void HdlcSlot::OnUpdateTimer() {
  statistics.set(statistics_ms, &HdlcSlot::OnUpdateTimer, this);
  ReportHdlcLinkInfo(*this, channel);
}

void HdlcSlot::on_hdlc_error(HDLC::Notify::Cause::Type) { log("on_hdlc_error"); }
