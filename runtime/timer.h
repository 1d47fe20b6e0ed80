#pragma once
// One-shot millisecond timers on the loop clock.
//
// An object owns a Timer and arms it with one of its members; re-arming
// replaces the pending event, destroying or reset()ing the Timer cancels it.
// A periodic action is a member that arms its own Timer again:
//
//   class Poller {
//     Timer t_;
//     void OnTick(Timer*) { ...; t_.set(1000, &Poller::OnTick, this); }
//    public:
//     Poller() { t_.set(1000, &Poller::OnTick, this); }
//   };
//
// The event is taken out of its Timer before the member runs, so the member
// may re-arm the Timer or destroy the object that owns it. Timers with the
// same expiry fire in the order they were armed.
#include <cstdint>

#include "runtime/f_dual_list.h"

class Timer;

class TimerEvent : public F_dual_list_item<TimerEvent> {
 public:
  TimerEvent() = default;
  TimerEvent(const TimerEvent&) = delete;
  TimerEvent& operator=(const TimerEvent&) = delete;
  virtual ~TimerEvent();  // cancels the event if it is armed
  virtual void fire() = 0;

  // Arms the event ms milliseconds from now (re-arming moves it).
  void schedule(unsigned ms);
  void reset();  // cancels
  // Signed difference of the expiries: negative when this one is earlier.
  std::int32_t compare(const TimerEvent* other) const;

  std::uint32_t expiry() const { return expiry_; }
  bool armed() const { return armed_; }

 private:
  friend class Multiplexer;
  std::uint32_t expiry_ = 0;
  bool armed_ = false;
};

// Owns at most one pending TimerEvent.
class Timer {
 public:
  Timer() = default;
  Timer(const Timer&) = delete;
  Timer& operator=(const Timer&) = delete;
  ~Timer();

  template <class T>
  void set(unsigned ms, void (T::*member)(), T* obj);
  template <class T>
  void set(unsigned ms, void (T::*member)(Timer*), T* obj);
  void set(unsigned ms, void (*function)());

  // Cancels the pending event, if any.
  void reset();
  bool isSet() const { return event_ != nullptr; }
  // Expiry of the pending event (loop-clock milliseconds); 0 when none.
  std::uint32_t expiry() const;

  // Used by the binders: holds a new event (deleting the old one), and gives
  // up the firing one.
  void hold(TimerEvent* event);
  void release(TimerEvent* event);

 private:
  TimerEvent* event_ = nullptr;
};

// Calls a member without argument.
template <class T>
class ObjTimerEvent1 : public TimerEvent {
 public:
  using Member = void (T::*)();
  ObjTimerEvent1(Timer* owner, Member member, T* obj, unsigned ms) : owner_(owner), member_(member), obj_(obj) {
    schedule(ms);
  }
  void fire() override {
    owner_->release(this);
    (obj_->*member_)();
    delete this;
  }

 private:
  Timer* owner_;
  Member member_;
  T* obj_;
};

// Calls a member with the owning Timer.
template <class T>
class ObjTimerEvent2 : public TimerEvent {
 public:
  using Member = void (T::*)(Timer*);
  ObjTimerEvent2(Timer* owner, Member member, T* obj, unsigned ms) : owner_(owner), member_(member), obj_(obj) {
    schedule(ms);
  }
  void fire() override {
    Timer* owner = owner_;
    owner->release(this);
    (obj_->*member_)(owner);
    delete this;
  }

 private:
  Timer* owner_;
  Member member_;
  T* obj_;
};

// Calls a plain function.
class SimpleTimerEvent1 : public TimerEvent {
 public:
  SimpleTimerEvent1(Timer* owner, void (*function)(), unsigned ms);
  void fire() override;

 private:
  Timer* owner_;
  void (*function_)();
};

template <class T>
void Timer::set(unsigned ms, void (T::*member)(), T* obj) {
  hold(new ObjTimerEvent1<T>(this, member, obj, ms));
}

template <class T>
void Timer::set(unsigned ms, void (T::*member)(Timer*), T* obj) {
  hold(new ObjTimerEvent2<T>(this, member, obj, ms));
}

// A Timer whose member and interval come from a static record of its owner
// class:
//
//   class Slot {
//     static const TimerSpec<Slot> TUpdatespec;   // {&Slot::OnUpdateTimer, 3000}
//     TimerSpec<Slot>::SpecTimer<TUpdatespec> update_;
//     ...  update_.set(this);
//   };
template <class T>
struct TimerSpec {
  void (T::*member)();
  unsigned ms;

  template <const TimerSpec<T>& Spec>
  class SpecTimer : public Timer {
   public:
    using Timer::set;
    void set(T* obj) { Timer::set(Spec.ms, Spec.member, obj); }
  };
};

// A source of an extra poll time-out, asked on every pass of the loop.
class TimerPoolPlugin {
 public:
  TimerPoolPlugin() = default;
  TimerPoolPlugin(const TimerPoolPlugin&) = delete;
  TimerPoolPlugin& operator=(const TimerPoolPlugin&) = delete;
  virtual ~TimerPoolPlugin();
  // Milliseconds until this provider needs the loop; negative for none.
  virtual int timeout() = 0;

  void timerHook();
  void timerUnhook();
  bool hooked() const { return hooked_; }

 private:
  bool hooked_ = false;
};
