#pragma once
// Descriptors watched by the event loop.
//
// An Event holds its own close-on-exec duplicate of a descriptor and a bound
// member function. After every poll that reported any ready descriptor, the
// loop calls the member of every polled Event with (fd, revents), also when
// its own revents is 0, so each handler tests its own events:
//
//   class Link {
//     Event ev_;
//     void OnSocketEvent(int fd, short revents) {
//       if (!(revents & POLLIN)) return;
//       ...
//     }
//    public:
//     explicit Link(const Fd& sock) {
//       ev_.Bind("Link::OnSocketEvent", &Link::OnSocketEvent, this);
//       ev_.Schedule(sock, POLLIN);  // keeps its own duplicate
//     }
//   };
//
// Destroying the Event (or Release) stops the watch and closes its
// duplicate. A handler may release or destroy itself or others while it is
// being served; one scheduled during a dispatch is polled from the next pass.
#include <poll.h>

#include <cstdint>
#include <string>

#include "runtime/f_dual_list.h"
#include "runtime/fd.h"
#include "runtime/measure.h"

class Multiplexer;

// Base of everything the loop polls.
class EventHandler : public F_dual_list_item<EventHandler> {
 public:
  EventHandler() = default;
  EventHandler(const EventHandler&) = delete;
  EventHandler& operator=(const EventHandler&) = delete;
  virtual ~EventHandler();

  // Fills the poll entry of this handler for the coming pass.
  virtual void shedule_event(pollfd& entry) = 0;
  // Serves the events poll reported (maybe 0).
  virtual void svc_event(short revents) = 0;
  virtual const char* event_name() const;
  virtual bool is_named() const;

  // Registers with the loop unless registered already (and the reverse).
  void mux_attach();
  void mux_detach();
  // Serves the events stored by the last poll.
  void svc_event();

  bool attached() const { return attached_; }
  short revents() const { return revents_; }

 private:
  friend class Multiplexer;
  enum class Where : std::uint8_t { none, pending, served, polled };

  bool attached_ = false;
  short revents_ = 0;
  Where where_ = Where::none;  // which list of the loop holds it
  std::uint32_t entry_ = 0;    // its poll entry in the pass under way
};

class Event : public EventHandler {
 public:
  // The callback of an Event.
  class Handler {
   public:
    virtual ~Handler() = default;
    virtual void Invoke(int fd, short revents) = 0;
  };

  // Calls a member function of T taking (fd, revents).
  template <class T>
  class THandler : public Handler {
   public:
    using Member = void (T::*)(int, short);
    THandler(Member member, T* obj) : member_(member), obj_(obj) {}
    void Invoke(int fd, short revents) override {
      if (member_) (obj_->*member_)(fd, revents);
    }

   private:
    Member member_;
    T* obj_;
  };

  Event() = default;
  ~Event() override;

  // Keeps the handler (owned), deleting the one held before.
  void Bind(Handler* handler);
  template <class T>
  void Bind(const char* name, void (T::*member)(int, short), T* obj) {
    name_ = name;
    Bind(new THandler<T>(member, obj));
  }
  template <class T>
  void Bind(T* obj, void (T::*member)(int, short), const char* name) {
    Bind(name, member, obj);
  }
  void UnBind();

  // Watches a duplicate of fd for the given poll events. Scheduling the
  // Event's own descriptor again only changes the events.
  void Schedule(const Fd& fd, short events);
  void Schedule(int fd, short events);
  // Stops watching and closes the duplicate; the binding stays, so a later
  // Schedule resumes with the same member.
  void Release();

  const Fd& fd() const { return fd_; }
  short events() const { return events_; }
  std::uint32_t hits() const { return hits_; }
  bool bound() const { return handler_ != nullptr; }
  Measure& measure() { return measure_; }
  const Measure& measure() const { return measure_; }

  void shedule_event(pollfd& entry) override;
  void svc_event(short revents) override;
  using EventHandler::svc_event;
  const char* event_name() const override;
  bool is_named() const override;

 private:
  void adopt(int fd, short events);

  Handler* handler_ = nullptr;
  Fd fd_;
  short events_ = 0;
  std::string name_ = "Unknown";
  std::uint32_t hits_ = 0;
  Measure measure_;
};

// "POLLIN|POLLERR|..." for the set bits, in bit order; "" for none.
std::string PollEventAsText(short events);
