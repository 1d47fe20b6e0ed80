#pragma once
// Child processes watched from the event loop.
//
// The SIGCHLD handler only writes one record {pid, wait status} per ended
// child into a datagram socket pair and reaps it; the loop reads the records
// and calls the member bound to the watcher of that pid. No end is lost
// however many children end while the loop does not read: a child is reaped
// only once its record is in the pair, and one that finds the pair full
// stays a zombie until the loop has read it. An owner starts its child itself
// and attaches a watcher right after the fork:
//
//   class ModemSlot {
//     ChildWait wait_;
//     void OnChildExit(int status) { ... WIFEXITED(status) ... }
//    public:
//     ModemSlot() { wait_.Bind(this, &ModemSlot::OnChildExit); }
//     void Run() {
//       pid_t pid = ::fork();
//       if (pid == 0) { ::execv(...); ::_exit(127); }
//       if (pid > 0) wait_.Attach(pid);
//     }
//   };
//
// The watcher leaves the service's list before its member runs, so the
// member may attach it again or destroy it. A record nobody waits for is
// only logged. Reaping is process-wide: every child, including those of
// popen or system, is reaped here once ChildWait::Activate has run.
//
// A reaped child's pid is free for any new process at once, while its
// record may wait in the pair until the loop gets to it: whoever signals
// children by pid, or starts one, reads the records first (Collect), and
// so learns of every end that has been reaped. An end goes only to a
// watcher attached before it was read: one attached since, under the same
// pid, waits for a later process.
#include <cstddef>
#include <deque>
#include <new>

#include "runtime/event.h"
#include "runtime/f_dual_list.h"
#include "runtime/fd.h"

class ChildWait : public F_dual_list_item<ChildWait> {
 public:
  class Handler {
   public:
    virtual void Invoke(ChildWait& watcher, int status) = 0;
    virtual ~Handler() = default;
    // Handlers live in their watcher's storage and are destroyed in place.
    static void operator delete(void*) noexcept {}
  };

  class DummyHandler : public Handler {
   public:
    void Invoke(ChildWait&, int) override {}
  };

  // Calls a member of T with the wait status.
  template <class T>
  class THandler1 : public Handler {
   public:
    using Member = void (T::*)(int);
    THandler1(T* obj, Member member) : obj_(obj), member_(member) {}
    void Invoke(ChildWait&, int status) override {
      if (member_) (obj_->*member_)(status);
    }

   private:
    T* obj_;
    Member member_;
  };

  // Keeps the count of program units using the service: the first one makes
  // the service, the last one at exit destroys it (see the static below).
  class UsageCounter {
   public:
    UsageCounter();
    ~UsageCounter();
    UsageCounter(const UsageCounter&) = delete;
    UsageCounter& operator=(const UsageCounter&) = delete;
  };

  ChildWait();
  ~ChildWait();
  ChildWait(const ChildWait&) = delete;
  ChildWait& operator=(const ChildWait&) = delete;

  // Replaces the handler by one calling obj->member(status).
  template <class T>
  void Bind(T* obj, void (T::*member)(int)) {
    static_assert(sizeof(THandler1<T>) <= kStorage, "a handler fits in the watcher");
    destroyHandler();
    handler_ = new (storage_) THandler1<T>(obj, member);
  }

  // Waits for pid: records it and puts the watcher at the end of the
  // service's list (once; a listed watcher moves to the end).
  void Attach(int pid);
  void Detach();

  int pid() const { return pid_; }
  bool attached() const { return listed_; }
  // Its process's end has been read (Collect) but not yet passed to it:
  // the pid may already be another process's.
  bool ended() const;

  // The service: made and destroyed by the usage counter; Activate (once, by
  // main, before the loop runs) opens the socket pair and installs the
  // SIGCHLD handler.
  static void Initialize();
  static void Cleanup();
  static void Activate();

 private:
  friend class ChildWaitService;
  static constexpr std::size_t kStorage = 64;

  void destroyHandler();

  int pid_ = 0;
  // The ends read before it was attached: none of them is its own.
  unsigned long since_ = 0;
  alignas(std::max_align_t) unsigned char storage_[kStorage];
  Handler* handler_;
  bool listed_ = false;
};

// The one service per process, behind ChildWaitService::childWaitService.
class ChildWaitService {
 public:
  static ChildWaitService* childWaitService;

  ChildWaitService() = default;
  ~ChildWaitService();
  ChildWaitService(const ChildWaitService&) = delete;
  ChildWaitService& operator=(const ChildWaitService&) = delete;

  void Activate();
  void Attach(ChildWait& watcher);
  void Detach(ChildWait& watcher);

  // Reads the records queued by the signal handler; calls the watchers.
  void OnChildEvent(int fd, short revents);
  // The same outside the loop's poll: whoever is about to signal a child
  // by its pid learns first of an end that has been reaped already.
  void Drain();
  // Reads the records queued by the signal handler, and records and reaps
  // the children it found no room for, without calling the watchers,
  // which the loop calls for them as usual (so that no owner is called
  // back in the middle of its own work); the end listener hears of each
  // end now.
  void Collect();
  // Told of every child's end as its record is read, before its watcher
  // is called (one listener: the child process registry's).
  static void Listen(void (*listener)(int pid));
  // The SIGCHLD handler: queues the record of every ended child and reaps
  // it, as many as the pair has room for.
  static void SigChldHandlerWrapper(int sig);

  // The handler's end of the pair (-1 until activated).
  const Fd& writeEnd() const { return writeEnd_; }
  const Event& event() const { return event_; }

 private:
  friend class ChildWait;
  struct End {
    int pid;
    int status;
    // Its place among the ends read.
    unsigned long serial;
  };
  // One record from the pair, told to the listener; false when none is
  // left.
  bool ReadEnd(int fd, End& end);
  void Dispatch(const End& end);
  // Records and reaps ended children until none is left or the pair is
  // full; how many it recorded.
  static std::size_t Reap();
  // The same from the loop, once it has emptied the pair: whether it
  // recorded any.
  static bool Refill();

  Event event_;
  Fd writeEnd_;
  F_dual_list<ChildWait> watchers_;
  // Ends read by Collect, for the loop's next pass.
  std::deque<End> collected_;
  unsigned long reads_ = 0;
};

// One per program unit that includes this header, so the service exists
// before any static object of that unit uses it and outlives them all.
static ChildWait::UsageCounter childWaitUsageCounter;
