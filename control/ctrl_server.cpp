#include "control/ctrl_server.h"

#include <algorithm>
#include <iostream>
#include <iterator>

#include "runtime/ext_out.h"

CtrlSrv::Server ctrlServer;

namespace CtrlSrv {

namespace {

constexpr unsigned avg_stat_ms = 5000;
constexpr const char* support_contact = "support@korvend.example";
// An undecodable frame may be 65531 octets of a hostile peer's junk: its
// dump stops here.
constexpr std::size_t dump_octets = 64;

}  // namespace

Server::~Server() {
  Deactivate();
  for (Service* s : services_) s->server_ = nullptr;
}

void Server::Bind(Service* service) {
  services_.push_back(service);
  service->server_ = this;
}

void Server::Unbind(Service* service) {
  services_.erase(std::remove(services_.begin(), services_.end(), service), services_.end());
  service->server_ = nullptr;
}

bool Server::Activate(Control::Service* link) {
  Deactivate();
  link_ = link;
  link_->service_name("server");
  link_->Bind(this);
  return link_->Activate();
}

void Server::Deactivate() {
  if (!link_) return;
  link_->Deactivate();
  OnDisconnect();
  link_->UnBind();
  delete link_;
  link_ = nullptr;
}

void Server::PutHeader(std::ostream& s) const {
  if (!link_)
    s << "ctrl [null]: ";
  else if (link_->state() == Control::Service::State::Connected)
    s << "ctrl [" << link_->GetName() << "]: ";
  else
    s << "ctrl [not connected]: ";
}

void Server::OnConnect() {
  std::clog << ext::header(this) << "controller connect." << std::endl;
  for (std::size_t i = 0; i < services_.size(); ++i) services_[i]->OnConnect();
  stat_timer_.set(avg_stat_ms, &Server::OnUpdateAvgStat, this);
}

void Server::OnDisconnect() {
  for (std::size_t i = 0; i < services_.size(); ++i) services_[i]->OnDisconnect();
  stat_timer_.reset();
}

void Server::OnUpdateAvgStat(Timer*) {}

void Server::OnMessage(const char* data, int length) {
  ASN1::CoderEnv env(ASN1::CoderEnv::per_Aligned);
  LGCP::Message message;
  if (ASN1::decode(data, data + length, &env, message, true))
    Handle(message);
  else {
    const std::size_t size = static_cast<std::size_t>(length);
    std::cerr << ext::header(this) << "receive fail: decode error!" << std::endl
              << " msg: " << ext::OutBufInHex(data, std::min(size, dump_octets));
    if (size > dump_octets) std::cerr << "... (" << size << " octets)";
    std::cerr << std::endl;
  }
  slot_ = -1;
}

void Server::Handle(const LGCP::Message& message) {
  reply_ = none;
  seq_present_ = message.hasOptionalField(LGCP::Message::o_seq);
  if (seq_present_) seq_ = static_cast<std::uint32_t>(message.get_seq().getValue());
  const LGCP::PDU& pdu = message.get_pdu();
  if (pdu.getSelection() != LGCP::PDU::e_command) {
    Error(LGCP::ErrorCause::unexpectedMsgType);
    return;
  }
  slot_ = -1;
  if (message.hasOptionalField(LGCP::Message::o_slot)) {
    // The decoder does not hold the value to its range.
    const unsigned slot = static_cast<unsigned>(message.get_slot().getValue());
    if (slot > max_slot) {
      Error(LGCP::ErrorCause::invalidSlot);
      return;
    }
    slot_ = static_cast<std::int32_t>(slot);
  }
  const LGCP::Command& command = pdu.get_command();
  bool claimed = false;
  for (std::size_t i = 0; i < services_.size() && !claimed; ++i) claimed = services_[i]->OnCommand(command);
  if (!claimed) {
    Error(LGCP::ErrorCause::unexpectedMsgType);
    return;
  }
  if (reply_ == none) {
    std::cerr << ext::header(this) << "software error: server do NOT send ack!!!" << std::endl
              << "please contact with techsupport (" << support_contact << ")" << std::endl;
    Error(LGCP::ErrorCause::internal);
  }
}

void Server::Reply(LGCP::Message& message) {
  if (seq_present_) {
    message.includeOptionalField(LGCP::Message::o_seq, LGCP::Message::e_seq);
    message.set_seq(seq_);
  }
  if (slot_ != -1) {
    message.includeOptionalField(LGCP::Message::o_slot, LGCP::Message::e_slot);
    message.set_slot(static_cast<unsigned>(slot_));
  }
}

void Server::Success() {
  if (reply_ != none) return;
  LGCP::Message message;
  Reply(message);
  message.get_pdu().select_response().select_success();
  reply_ = answered;
  SendMsg(message);
}

void Server::Error(LGCP::ErrorCause::NamedNumber cause) {
  if (reply_ == failed) return;
  LGCP::Message message;
  Reply(message);
  message.get_pdu().select_response().set_error(cause);
  reply_ = failed;
  SendMsg(message);
}

DelayedSeq Server::delayResponse() {
  reply_ = answered;
  return seq_present_ ? DelayedSeq(seq_) : DelayedSeq();
}

void Server::delayedSuccess(unsigned slot, const DelayedSeq& seq) {
  LGCP::Message message;
  if (seq) {
    message.includeOptionalField(LGCP::Message::o_seq, LGCP::Message::e_seq);
    message.set_seq(*seq);
  }
  message.includeOptionalField(LGCP::Message::o_slot, LGCP::Message::e_slot);
  message.set_slot(slot);
  message.get_pdu().select_response().select_success();
  SendMsg(message);
}

void Server::SendSignal(const LGCP::Signal& signal) {
  LGCP::Message message;
  if (slot_ != -1) {
    message.includeOptionalField(LGCP::Message::o_slot, LGCP::Message::e_slot);
    message.set_slot(static_cast<unsigned>(slot_));
  }
  message.get_pdu().set_signal(signal);
  SendMsg(message);
}

void Server::SendSignal(unsigned slot, const LGCP::Signal& signal) {
  LGCP::Message message;
  message.includeOptionalField(LGCP::Message::o_slot, LGCP::Message::e_slot);
  message.set_slot(slot);
  message.get_pdu().set_signal(signal);
  SendMsg(message);
}

void Server::SendMsg(const LGCP::Message& message) {
  ASN1::CoderEnv env(ASN1::CoderEnv::per_Aligned);
  std::vector<char> out;
  out.reserve(200);
  if (!ASN1::encode(message, &env, std::back_inserter(out))) {
    std::cerr << ext::header(this) << "send fail: encode error! " << message << std::endl;
    return;
  }
  if (link_)
    link_->Send(out.data(), static_cast<int>(out.size()));
  else
    std::cerr << ext::header(this) << "send fail: Service not attached!" << std::endl;
}

bool Server::CheckServerConnection(bool& connected) const {
  if (!link_) return false;
  connected = link_->state() == Control::Service::State::Connected;
  return true;
}

void Server::OnHeartbeatTimeout() {
  if (link_) link_->Disconnect();
}

}  // namespace CtrlSrv
