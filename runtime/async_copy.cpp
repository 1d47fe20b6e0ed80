#include "runtime/async_copy.h"

#include <errno.h>
#include <unistd.h>

namespace ASync {

namespace {
constexpr short kErrorEvents = POLLERR | POLLHUP | POLLNVAL;
}

Copy::~Copy() { delete handler_; }

void Copy::Bind(Handler* handler) {
  if (handler_ != handler) delete handler_;
  handler_ = handler;
}

void Copy::UnBind() {
  delete handler_;
  handler_ = nullptr;
}

void Copy::Request(Event& ev, short events) {
  if (!ev.fd().valid()) return;  // released: the side has ended
  if (ev.attached() && ev.events() == events) return;
  ev.Schedule(ev.fd(), events);
}

void Copy::Start(Fd src, Fd dst) {
  status_ = Status::copying;
  src_ = std::move(src);
  dst_ = std::move(dst);
  srcEvent_.Release();
  srcEvent_.Bind("Copy::OnSrcEvent", &Copy::OnSrcEvent, this);
  srcEvent_.Schedule(src_, 0);
  dstEvent_.Release();
  dstEvent_.Bind("Copy::OnDstEvent", &Copy::OnDstEvent, this);
  dstEvent_.Schedule(dst_, 0);
  CheckBuffer();
  error_ = 0;
  total_ = 0;
  begin_ = end_ = 0;
  step_ = &Copy::SrcReady;
  Progress();  // may complete and call the handler; nothing may follow
}

void Copy::Stop() {
  if (status_ != Status::copying) return;
  if (GoFlush()) Progress();
}

void Copy::set_bufsize(unsigned n) {
  buffer_.reset(n ? new char[n] : nullptr);
  bufsize_ = n;
  Complete(Status::reconfigured);
}

void Copy::set_events(const EventsParams& events) {
  events_ = events;
  Complete(Status::reconfigured);
}

void Copy::CheckBuffer() {
  // A zero-size buffer would read nothing and end every copy at once.
  if (buffer_ && bufsize_ > 0) return;
  buffer_.reset(new char[kDefaultBufSize]);
  bufsize_ = kDefaultBufSize;
}

// Every step returns true to run the next one at once, false to wait for an
// event. A step that completes returns false without touching the object
// again: the handler may have destroyed it.
void Copy::Progress() {
  while ((this->*step_)()) {
  }
}

void Copy::GoReading() {
  Request(srcEvent_, events_.read);
  Request(dstEvent_, 0);
  step_ = &Copy::SrcReady;
}

void Copy::GoWriting() {
  Request(srcEvent_, 0);
  Request(dstEvent_, events_.write);
  step_ = &Copy::DstReady;
}

bool Copy::SrcReady() {
  const ssize_t n = ::read(src_.get(), buffer_.get(), bufsize_);
  if (n > 0) {
    begin_ = 0;
    end_ = static_cast<unsigned>(n);
    GoWriting();
    return true;
  }
  if (n == 0) return GoFlush();
  if (errno == EAGAIN || errno == EWOULDBLOCK) {
    GoReading();
    return false;
  }
  // A stream that breaks after data went through is taken as ended (a peer
  // resetting at the end of a network stream); one that never gave anything
  // has failed.
  if (total_ == 0) {
    Complete(Status::failed);
    return false;
  }
  return GoFlush();
}

bool Copy::DstReady() {
  const ssize_t n = ::write(dst_.get(), buffer_.get() + begin_, end_ - begin_);
  if (n > 0) {
    total_ += static_cast<std::uint64_t>(n);
    begin_ += static_cast<unsigned>(n);
    if (begin_ < end_) return true;
    if (status_ == Status::draining) return GoFlushDst();
    GoReading();
    return true;
  }
  if (n < 0 && (errno == EAGAIN || errno == EWOULDBLOCK)) {
    GoWriting();
    return false;
  }
  error_ = n < 0 ? errno : 0;
  Complete(Status::failed);
  return false;
}

bool Copy::GoFlush() {
  srcEvent_.Release();
  src_.close();
  if (step_ == &Copy::DstReady) {
    status_ = Status::draining;
    return true;
  }
  return GoFlushDst();
}

bool Copy::GoFlushDst() {
  if (events_.flush == 0) {
    Complete(Status::completed);
    return false;
  }
  status_ = Status::flushing;
  Request(dstEvent_, events_.flush);
  step_ = &Copy::NotReady;
  return false;
}

void Copy::OnSrcEvent(int, short revents) {
  if (revents & events_.read) {
    Progress();
  } else if (revents & kErrorEvents) {
    // Stop polling the broken side; the next read reports its end or error.
    srcEvent_.Release();
    Progress();
  }
}

void Copy::OnDstEvent(int, short revents) {
  if (revents & kErrorEvents) {
    error_ = 0;
    Complete(Status::failed);
  } else if (status_ == Status::copying || status_ == Status::draining) {
    if (revents & events_.write) Progress();
  } else if (status_ == Status::flushing) {
    if (revents & events_.flush) Complete(Status::completed);
  }
}

void Copy::Complete(Status::Type status) {
  if (status_ != Status::copying && status_ != Status::draining && status_ != Status::flushing) return;
  srcEvent_.UnBind();
  srcEvent_.Release();
  dstEvent_.UnBind();
  dstEvent_.Release();
  src_.close();
  dst_.close();
  step_ = &Copy::NotReady;
  status_ = status;
  if (handler_) handler_->Invoke(status);
}

}  // namespace ASync
