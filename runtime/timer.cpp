#include "runtime/timer.h"

#include "runtime/multiplexer.h"
#include "runtime/mux_clock.h"

TimerEvent::~TimerEvent() {
  if (armed_) multiplexer.reset(this);
}

void TimerEvent::schedule(unsigned ms) {
  expiry_ = Mux::milliseconds() + ms;
  multiplexer.set(this);
}

void TimerEvent::reset() { multiplexer.reset(this); }

std::int32_t TimerEvent::compare(const TimerEvent* other) const {
  return static_cast<std::int32_t>(expiry_ - other->expiry_);
}

Timer::~Timer() { reset(); }

void Timer::set(unsigned ms, void (*function)()) { hold(new SimpleTimerEvent1(this, function, ms)); }

void Timer::reset() {
  TimerEvent* e = event_;
  event_ = nullptr;
  delete e;
}

std::uint32_t Timer::expiry() const { return event_ ? event_->expiry() : 0; }

void Timer::hold(TimerEvent* event) {
  TimerEvent* old = event_;
  event_ = event;
  if (old != event) delete old;
}

void Timer::release(TimerEvent* event) {
  if (event_ == event) event_ = nullptr;
}

SimpleTimerEvent1::SimpleTimerEvent1(Timer* owner, void (*function)(), unsigned ms)
    : owner_(owner), function_(function) {
  schedule(ms);
}

void SimpleTimerEvent1::fire() {
  owner_->release(this);
  if (function_) function_();
  delete this;
}

TimerPoolPlugin::~TimerPoolPlugin() { timerUnhook(); }

void TimerPoolPlugin::timerHook() {
  if (!hooked_) multiplexer.hook(this);
  hooked_ = true;
}

void TimerPoolPlugin::timerUnhook() {
  if (hooked_) multiplexer.unhook(this);
  hooked_ = false;
}
