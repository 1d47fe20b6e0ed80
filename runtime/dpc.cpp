#include "runtime/dpc.h"

#include "runtime/multiplexer.h"

Dpc::~Dpc() {
  Deactivate();
  delete handler_;
}

void Dpc::Bind(DpcHandler* handler) {
  if (handler_ != handler) delete handler_;
  handler_ = handler;
}

void Dpc::Activate() {
  if (!active_) multiplexer.attach(this);
  active_ = true;
}

void Dpc::Deactivate() {
  if (active_) multiplexer.dettach(this);
  active_ = false;
}

void Dpc::Invoke() {
  if (handler_) handler_->Invoke();
}
