#include "runtime/event.h"

#include <fcntl.h>
#include <unistd.h>

#include "runtime/multiplexer.h"

EventHandler::~EventHandler() {
  // A handler must never stay in the loop's lists after it is gone.
  if (where_ != Where::none) multiplexer.detach(this);
}

const char* EventHandler::event_name() const { return "unknown"; }

bool EventHandler::is_named() const { return false; }

void EventHandler::mux_attach() {
  if (attached_) return;
  multiplexer.attach(this);
  attached_ = true;
}

void EventHandler::mux_detach() {
  if (!attached_) return;
  multiplexer.detach(this);
  attached_ = false;
}

void EventHandler::svc_event() { svc_event(revents_); }

Event::~Event() {
  delete handler_;
  handler_ = nullptr;
  if (fd_.valid()) mux_detach();
  fd_.close();
}

void Event::Bind(Handler* handler) {
  if (handler_ != handler) delete handler_;
  handler_ = handler;
}

void Event::UnBind() {
  delete handler_;
  handler_ = nullptr;
}

void Event::adopt(int fd, short events) {
  if (fd_.valid()) mux_detach();
  if (fd != fd_.get()) fd_.reset(fd);
  events_ = events;
  if (fd_.valid()) mux_attach();
}

void Event::Schedule(const Fd& fd, short events) {
  adopt(&fd == &fd_ ? fd_.get() : fd.dup(), events);
}

void Event::Schedule(int fd, short events) {
  adopt(fd == fd_.get() || fd < 0 ? fd : ::fcntl(fd, F_DUPFD_CLOEXEC, 0), events);
}

void Event::Release() {
  if (fd_.valid()) mux_detach();
  fd_.close();
}

void Event::shedule_event(pollfd& entry) {
  entry.fd = fd_.get();
  entry.events = events_;
  entry.revents = 0;
}

void Event::svc_event(short revents) {
  if (revents & events_) ++hits_;
  if (handler_) handler_->Invoke(fd_.get(), revents);
}

const char* Event::event_name() const { return name_.c_str(); }

bool Event::is_named() const { return true; }

std::string PollEventAsText(short events) {
  static const struct {
    short bit;
    const char* name;
  } names[] = {
      {0x1, "POLLIN"},       {0x2, "POLLPRI"},     {0x4, "POLLOUT"},     {0x8, "POLLERR"},
      {0x10, "POLLHUP"},     {0x20, "POLLNVAL"},   {0x40, "POLLRDNORM"}, {0x80, "POLLRDBAND"},
      {0x100, "POLLWRNORM"}, {0x200, "POLLWRBAND"}, {0x400, "POLLMSG"},
  };
  std::string text;
  for (const auto& n : names) {
    if (!(events & n.bit)) continue;
    if (!text.empty()) text += '|';
    text += n.name;
  }
  return text;
}
