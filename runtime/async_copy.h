#pragma once
// Copies everything from one descriptor to another through a buffer, driven
// by readiness events, and reports once at the end:
//
//   class Player {
//     ASync::Copy copy_;
//     void OnCopy(ASync::Copy::Status::Type st) { ... st == ASync::Copy::Status::completed ... }
//    public:
//     Player() { copy_.Bind(&Player::OnCopy, this); }
//     void Play(const Fd& file, const Fd& channel) { copy_.Start(file, channel); }
//   };
//
// Both descriptors must be non-blocking (or never block, like regular
// files): a read is tried as soon as the previous data is written. The copy
// keeps duplicates of them and closes those when it ends. The handler may
// be called from inside Start or Stop, and may destroy the copier.
#include <poll.h>

#include <boost/scoped_array.hpp>
#include <cstdint>

#include "runtime/event.h"
#include "runtime/fd.h"

namespace ASync {

class Copy {
 public:
  struct Status {
    enum Type {
      idle = 0,        // never started
      copying = 1,
      draining = 2,    // source finished, buffered bytes still being written
      flushing = 3,    // all written, waiting for the flush event
      failed = 4,
      completed = 5,
      reconfigured = 6  // aborted by set_bufsize or set_events
    };
  };

  struct EventsParams {
    short read = POLLIN;
    short write = POLLOUT;
    short flush = POLLWRNORM;  // 0: complete as soon as all is written
  };

  class Handler {
   public:
    virtual void Invoke(Status::Type status) = 0;
    virtual ~Handler() = default;
  };

  template <class T>
  class THandler : public Handler {
   public:
    using Member = void (T::*)(Status::Type);
    THandler(Member member, T* obj) : member_(member), obj_(obj) {}
    void Invoke(Status::Type status) override {
      if (member_) (obj_->*member_)(status);
    }

   private:
    Member member_;
    T* obj_;
  };

  static constexpr unsigned kDefaultBufSize = 1024;

  Copy() = default;
  ~Copy();
  Copy(const Copy&) = delete;
  Copy& operator=(const Copy&) = delete;

  void Start(Fd src, Fd dst);
  // Ends the input as if the source had reached its end: what was read is
  // still written, then the copy completes.
  void Stop();
  // Both are meant for before Start; a running copy ends with reconfigured.
  void set_bufsize(unsigned n);
  void set_events(const EventsParams& events);

  // Keeps the handler (owned), deleting the one held before.
  void Bind(Handler* handler);
  template <class T>
  void Bind(void (T::*member)(Status::Type), T* obj) {
    Bind(new THandler<T>(member, obj));
  }
  void UnBind();

  Status::Type status() const { return status_; }
  // errno of the failed write; 0 for any other ending.
  int error() const { return error_; }
  std::uint64_t total() const { return total_; }
  unsigned bufsize() const { return bufsize_; }
  const EventsParams& events() const { return events_; }

 private:
  using Step = bool (Copy::*)();

  void OnSrcEvent(int fd, short revents);
  void OnDstEvent(int fd, short revents);
  void Progress();
  bool NotReady() { return false; }
  bool SrcReady();
  bool DstReady();
  void GoReading();
  void GoWriting();
  bool GoFlush();
  bool GoFlushDst();
  void CheckBuffer();
  void Complete(Status::Type status);
  // Sets the events of a watch that still has its descriptor.
  static void Request(Event& ev, short events);

  Fd src_;
  Fd dst_;
  EventsParams events_;
  unsigned bufsize_ = 0;
  int error_ = 0;
  Step step_ = &Copy::NotReady;
  Handler* handler_ = nullptr;
  Event srcEvent_;
  Event dstEvent_;
  std::uint64_t total_ = 0;
  unsigned begin_ = 0;  // the part of the buffer still to write
  unsigned end_ = 0;
  Status::Type status_ = Status::idle;
  boost::scoped_array<char> buffer_;
};

}  // namespace ASync
