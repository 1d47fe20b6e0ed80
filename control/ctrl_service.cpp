#include "control/ctrl_service.h"

#include <iostream>

#include "control/ctrl_server.h"

namespace CtrlSrv {

Service::~Service() {
  if (server_) server_->Unbind(this);
}

void Service::OnSignal(const LGCP::Signal&) {}

bool Service::bound() const {
  if (server_) return true;
  std::cerr << "CtrlSrv::Service error! service not connected to server." << std::endl;
  return false;
}

void Service::Success() {
  if (bound()) server_->Success();
}

void Service::Error(LGCP::ErrorCause::NamedNumber cause) {
  if (bound()) server_->Error(cause);
}

void Service::SendSignal(const LGCP::Signal& signal) {
  if (!bound()) return;
  // Index walk: a service may send signals of its own from OnSignal.
  const std::vector<Service*>& services = server_->services();
  for (std::size_t i = 0; i < services.size(); ++i)
    if (services[i] != this) services[i]->OnSignal(signal);
  server_->SendSignal(signal);
}

void Service::SendSignal(unsigned slot, const LGCP::Signal& signal) {
  if (!bound()) return;
  const std::vector<Service*>& services = server_->services();
  for (std::size_t i = 0; i < services.size(); ++i)
    if (services[i] != this) services[i]->OnSignal(signal);
  server_->SendSignal(slot, signal);
}

unsigned Service::GetSlot() const { return bound() ? server_->GetSlot() : static_cast<unsigned>(-1); }

bool Service::IsSlotPresent() const { return bound() && server_->IsSlotPresent(); }

DelayedSeq Service::delayResponse() {
  return bound() ? server_->delayResponse() : DelayedSeq(static_cast<unsigned>(-1));
}

void Service::delayedSuccess(unsigned slot, const DelayedSeq& seq) {
  if (bound()) server_->delayedSuccess(slot, seq);
}

bool Service::CheckServerConnection(bool& connected) const {
  return server_ && server_->CheckServerConnection(connected);
}

}  // namespace CtrlSrv
