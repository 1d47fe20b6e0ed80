#pragma once
// What the tone and DSP services share: a driver node that delivers
// fixed-size event records, each for one timeslot, and the receivers of the
// timeslots, oldest first, to which the records go.
//
// The service opens the node when it is built (again on demand with
// ensureOpen), reads whole records in the loop and hands each to dispatch();
// a short record ends the pass with one line "fail to read from NAME: ...",
// and so does a failed read, an end of file, an error or a hang-up, which
// also close the node. A receiver holds a Member, which keeps it at the end of
// the list while it lives; first() finds the oldest receiver of a timeslot.
// A receiver may go inside its handler: dispatch touches nothing of it
// after the call, and the list loses it at once.
#include <errno.h>
#include <poll.h>
#include <string.h>
#include <unistd.h>

#include <cstdint>
#include <iostream>

#include "platform/drv.h"
#include "runtime/cyclic_list.h"
#include "runtime/event.h"
#include "runtime/fd.h"

namespace Hardware {

template <class Record, class Receiver>
class TimeslotEventService {
 public:
  // A receiver's place in the list.
  class Member : private Containers::CyclicList {
   public:
    explicit Member(Receiver* receiver) : receiver_(receiver) { AddTail(list()); }
    ~Member() { Unlink(); }

   private:
    friend class TimeslotEventService;
    Receiver* receiver_;
  };

  TimeslotEventService(const TimeslotEventService&) = delete;
  TimeslotEventService& operator=(const TimeslotEventService&) = delete;

  bool is_open() const { return fd_.valid(); }

 protected:
  // `name` goes in the read failure lines, `eventName` names the watch in
  // the loop, `openFail` begins the line (strerror follows) of a refused open.
  TimeslotEventService(const char* path, int flags, const char* name, const char* eventName, const char* openFail)
      : path_(path), flags_(flags), name_(name), eventName_(eventName), openFail_(openFail) {
    init();
  }
  virtual ~TimeslotEventService() = default;

  // One whole record read from the node.
  virtual void dispatch(const Record& record) = 0;

  bool init() {
    fd_.reset(drv::open(path_, flags_));
    if (!fd_.valid()) {
      std::cerr << openFail_ << ::strerror(errno) << std::endl;
      return false;
    }
    event_.Bind(eventName_, &TimeslotEventService::OnEvent, this);
    event_.Schedule(fd_, POLLIN);
    return true;
  }
  // Open, or opened now; otherwise "FAILTEXT timeslot=N" is logged.
  bool ensureOpen(const char* failText, unsigned timeslot) {
    if (fd_.valid() || init()) return true;
    std::cerr << failText << " timeslot=" << timeslot << std::endl;
    return false;
  }
  // Ids of enablings: 1, 2, ... (0 skipped).
  std::uint32_t nextId() {
    if (++lastId_ == 0) lastId_ = 1;
    return lastId_;
  }
  // The oldest receiver whose timeslot is `timeslot`; null when none.
  static Receiver* first(std::uint32_t timeslot, unsigned (Receiver::*timeslotOf)() const) {
    Containers::CyclicList& l = list();
    for (auto it = l.begin(); it != l.end(); ++it) {
      Receiver* receiver = static_cast<Member*>(*it)->receiver_;
      if ((receiver->*timeslotOf)() == timeslot) return receiver;
    }
    return nullptr;
  }

  // The tails of a refused request's line.
  static std::ostream& errnoTail(std::ostream& s, int err) {
    return s << " errno=\"" << ::strerror(err) << "\"" << std::endl;
  }
  static std::ostream& failTail(std::ostream& s, unsigned timeslot, int err) {
    return errnoTail(s << " timeslot=" << timeslot, err);
  }

  Fd fd_;

 private:
  static Containers::CyclicList& list() {
    static Containers::CyclicList receivers;
    return receivers;
  }

  // The records a failed driver still holds are read first; then it is
  // closed, to be opened again on demand.
  void OnEvent(int fd, short revents) {
    if (!(revents & (POLLIN | POLLERR | POLLHUP))) return;
    for (;;) {
      Record record;
      const ssize_t n = ::read(fd, &record, sizeof record);
      if (n == static_cast<ssize_t>(sizeof record)) {
        dispatch(record);
        continue;
      }
      // A short record cannot be routed, and reading on would take the next
      // record's bytes for its end: the pass ends here.
      if (n > 0) {
        std::cerr << "fail to read from " << name_ << ": " << "incomplete record of " << n << " bytes" << std::endl;
        return;
      }
      const char* lost = drv::readLost(n, revents);
      if (!lost) return;
      std::cerr << "fail to read from " << name_ << ": " << lost << std::endl;
      event_.Release();
      fd_.close();
      return;
    }
  }

  const char* path_;
  int flags_;
  const char* name_;
  const char* eventName_;
  const char* openFail_;
  Event event_;
  std::uint32_t lastId_ = 0;
};

}  // namespace Hardware
