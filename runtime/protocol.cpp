#include "runtime/protocol.h"

Protocol::~Protocol() {
  if (owner_) owner_->remove(this);
}

void Protocol::local_prepare_head(Packet& p) { p.reserve_head(0); }

void Protocol::local_prepare_tail(Packet& p) { p.reserve_tail(0); }

Protocol_status Protocol::local_initialize() {
  return Protocol_status(new Protocol_status_success(this, "success"));
}

void Protocol::local_activate() { on_activate(); }

void Protocol::local_deactivate() {
  on_deactivate(Protocol_status(new Protocol_status_success(this, "success")));
}

void Protocol::transmit(Packet& p) {
  if (lower())
    lower()->message(p);
  else if (owner_)
    owner_->transmit(p);
}

void Protocol::on_message(Packet& p) {
  if (upper())
    upper()->receive(p);
  else if (owner_)
    owner_->on_message(p);
}

void Protocol::on_activate() {
  if (upper())
    upper()->local_activate();
  else if (owner_)
    owner_->on_activated(this);
}

void Protocol::on_deactivate(Protocol_status status) {
  if (status->success()) {
    if (lower())
      lower()->deactivate();
    else if (owner_)
      owner_->on_deactivated(this, status);
  } else {
    // An error climbs to the top and takes nothing more down.
    if (upper())
      upper()->on_deactivate(status);
    else if (owner_)
      owner_->on_deactivated(this, status);
  }
}

void Protocol::on_status(Protocol_status status) {
  if (upper())
    upper()->on_status(status);
  else if (owner_)
    owner_->on_status(status);
}

void Protocol::message(Packet&) {}

void Protocol::receive(Packet&) {}

void Protocol::activate() {
  if (lower())
    lower()->activate();
  else
    local_activate();
}

void Protocol::deactivate() { local_deactivate(); }

void Protocol::protocol_info(std::ostream&) const {}

void Protocol::prepare_head(Packet& p) {
  descend_prepare_head(p);
  local_prepare_head(p);
}

void Protocol::prepare_tail(Packet& p) {
  descend_prepare_tail(p);
  local_prepare_tail(p);
}

// The descent stays inside this list: an enclosing family's lower layers are
// the family's business.
void Protocol::descend_prepare_head(Packet& p) {
  if (lower()) lower()->prepare_head(p);
}

void Protocol::descend_prepare_tail(Packet& p) {
  if (lower()) lower()->prepare_tail(p);
}

Protocol_status Protocol::initialize() {
  if (lower()) {
    Protocol_status below = lower()->initialize();
    if (!below->success()) return below;
  }
  return local_initialize();
}

ProtocolsList::~ProtocolsList() {
  while (Protocol* p = tail()) {
    remove(p);
    p->owner_ = nullptr;
    delete p;
  }
}

void ProtocolsList::on_activated(Protocol*) {}

void ProtocolsList::on_deactivated(Protocol*, Protocol_status) {}

void ProtocolsList::add_protocol_head(Protocol* p) {
  insert_to_head(p);
  p->owner_ = this;
}

void ProtocolsList::add_protocol_tail(Protocol* p) {
  insert_to_tail(p);
  p->owner_ = this;
}

Protocol* ProtocolsList::search(const Protocol_name& name) const {
  for (Protocol* p = head(); p; p = p->upper())
    if (p->compare_name(name)) return p;
  return nullptr;
}

void ProtocolsFamily::message(Packet& p) {
  if (tail()) tail()->message(p);
}

void ProtocolsFamily::receive(Packet& p) {
  if (head()) head()->receive(p);
}

void ProtocolsFamily::local_prepare_head(Packet& p) {
  if (tail()) tail()->prepare_head(p);
}

void ProtocolsFamily::local_prepare_tail(Packet& p) {
  if (tail()) tail()->prepare_tail(p);
}

Protocol_status ProtocolsFamily::local_initialize() {
  if (!tail()) return Protocol_status(new Protocol_initialize_error(this, "error"));
  return tail()->initialize();
}

// An empty family never becomes active.
void ProtocolsFamily::local_activate() {
  if (tail()) tail()->activate();
}

void ProtocolsFamily::on_activated(Protocol* p) {
  if (p == tail()) on_activate();
}

void ProtocolsFamily::local_deactivate() {
  if (tail()) tail()->deactivate();
}

// Whichever inner layer reported: a success continues the descent in the
// outer list, an error continues its climb there.
void ProtocolsFamily::on_deactivated(Protocol*, Protocol_status status) { on_deactivate(status); }
