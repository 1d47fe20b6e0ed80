#include "runtime/child_wait.h"

#include <errno.h>
#include <poll.h>
#include <signal.h>
#include <sys/socket.h>
#include <sys/uio.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstdint>
#include <iostream>

#include "runtime/ipc_signal.h"

ChildWaitService* ChildWaitService::childWaitService = nullptr;

namespace {

int usageCount = 0;

// The descriptor the signal handler writes to; kept apart from the service
// object so the handler reads one word and never follows a pointer that
// Cleanup may be freeing.
volatile sig_atomic_t handlerWriteEnd = -1;

void (*endListener)(int pid) = nullptr;

// One record per reaped child, in host order: it never leaves the process.
struct ChildRecord {
  std::int32_t pid;
  std::int32_t status;
};
static_assert(sizeof(ChildRecord) == 8, "a child record is 8 bytes");

// The wait status waitpid gives for the end waitid describes.
int statusOf(const siginfo_t& info) {
  switch (info.si_code) {
    case CLD_EXITED:
      return (info.si_status & 0xff) << 8;
    case CLD_KILLED:
      return info.si_status & 0x7f;
    case CLD_DUMPED:
      return (info.si_status & 0x7f) | 0x80;
    default:
      return 0;
  }
}

}  // namespace

// ---- ChildWait ----

ChildWait::UsageCounter::UsageCounter() {
  if (usageCount++ == 0) ChildWait::Initialize();
}

ChildWait::UsageCounter::~UsageCounter() {
  if (--usageCount == 0) ChildWait::Cleanup();
}

ChildWait::ChildWait() : handler_(new (storage_) DummyHandler) {}

ChildWait::~ChildWait() {
  destroyHandler();
  Detach();
}

void ChildWait::destroyHandler() {
  if (handler_) handler_->~Handler();
  handler_ = nullptr;
}

void ChildWait::Attach(int pid) {
  pid_ = pid;
  if (ChildWaitService::childWaitService) ChildWaitService::childWaitService->Attach(*this);
}

bool ChildWait::ended() const {
  const ChildWaitService* service = ChildWaitService::childWaitService;
  if (!service) return false;
  for (const ChildWaitService::End& end : service->collected_)
    if (end.pid == pid_ && end.serial > since_) return true;
  return false;
}

void ChildWait::Detach() {
  if (ChildWaitService::childWaitService) ChildWaitService::childWaitService->Detach(*this);
}

void ChildWait::Initialize() {
  if (!ChildWaitService::childWaitService) ChildWaitService::childWaitService = new ChildWaitService;
}

void ChildWait::Cleanup() {
  delete ChildWaitService::childWaitService;
  ChildWaitService::childWaitService = nullptr;
}

void ChildWait::Activate() {
  if (ChildWaitService::childWaitService) ChildWaitService::childWaitService->Activate();
}

// ---- ChildWaitService ----

ChildWaitService::~ChildWaitService() {
  handlerWriteEnd = -1;
  event_.Release();
  event_.UnBind();
  writeEnd_.close();
  // Watchers that outlive the service must not reach back into it.
  while (ChildWait* w = watchers_.remove_from_head()) w->listed_ = false;
}

void ChildWaitService::Activate() {
  int pair[2];
  if (::socketpair(AF_UNIX, SOCK_DGRAM, 0, pair) != 0) {
    std::cerr << "ChildWaitService: initialize fails" << std::endl;
    return;
  }
  Fd first(pair[0]), second(pair[1]);
  SetCloexec(first.get(), true);
  // The signal handler must never block, even when the loop has not read
  // the records for a long time: a child whose record finds the pair full
  // is left unreaped instead.
  first.NonBlock();
  writeEnd_ = std::move(first);
  event_.Bind("ChildWaitService::OnChildEvent", &ChildWaitService::OnChildEvent, this);
  SetCloexec(second.get(), true);
  second.NonBlock();
  event_.Schedule(second, POLLIN);
  handlerWriteEnd = writeEnd_.get();
  IPC::Signal::handle(SIGCHLD, &ChildWaitService::SigChldHandlerWrapper, SA_RESTART);
}

void ChildWaitService::Attach(ChildWait& watcher) {
  watcher.since_ = reads_;
  if (watcher.listed_) watchers_.remove(&watcher);
  watchers_.push_back(&watcher);
  watcher.listed_ = true;
}

void ChildWaitService::Detach(ChildWait& watcher) {
  if (!watcher.listed_) return;
  watchers_.remove(&watcher);
  watcher.listed_ = false;
}

// Async-signal-safe. A child is reaped only once its record is in the
// pair: when the pair is full it stays a zombie, its pid no one else's,
// until the loop has read the pair and calls this again (Refill). The
// kernel hands the ended children out in one order every time, so the
// records keep the order in which waitpid would have reaped them.
std::size_t ChildWaitService::Reap() {
  std::size_t recorded = 0;
  for (;;) {
    siginfo_t info;
    info.si_pid = 0;
    if (::waitid(P_ALL, 0, &info, WEXITED | WNOHANG | WNOWAIT) != 0 || info.si_pid <= 0) return recorded;
    const int fd = handlerWriteEnd;
    if (fd >= 0) {
      std::int32_t pidWord = info.si_pid;
      std::int32_t statusWord = statusOf(info);
      struct iovec parts[2] = {{&pidWord, sizeof pidWord}, {&statusWord, sizeof statusWord}};
      if (::writev(fd, parts, 2) >= 0)
        ++recorded;
      else if (errno == EAGAIN || errno == EWOULDBLOCK || errno == ENOBUFS)
        return recorded;
      // Otherwise the pair is gone, and no one is left to tell.
    }
    siginfo_t reaped;
    ::waitid(P_PID, static_cast<id_t>(info.si_pid), &reaped, WEXITED | WNOHANG);
  }
}

void ChildWaitService::SigChldHandlerWrapper(int) {
  // Loop code tests errno after its own failed calls; waitid's final
  // ECHILD must not leak into it.
  const int savedErrno = errno;
  Reap();
  errno = savedErrno;
}

bool ChildWaitService::Refill() {
  sigset_t chld, before;
  ::sigemptyset(&chld);
  ::sigaddset(&chld, SIGCHLD);
  ::sigprocmask(SIG_BLOCK, &chld, &before);
  const std::size_t recorded = Reap();
  ::sigprocmask(SIG_SETMASK, &before, nullptr);
  return recorded > 0;
}

void ChildWaitService::Drain() {
  if (event_.fd().valid()) OnChildEvent(event_.fd().get(), POLLIN);
}

void ChildWaitService::Listen(void (*listener)(int pid)) { endListener = listener; }

bool ChildWaitService::ReadEnd(int fd, End& end) {
  ChildRecord rec;
  if (::read(fd, &rec, sizeof rec) != static_cast<ssize_t>(sizeof rec)) return false;
  end = End{rec.pid, rec.status, 0};
  if (end.pid <= 0) return true;
  end.serial = ++reads_;
  if (endListener) endListener(end.pid);
  return true;
}

void ChildWaitService::Collect() {
  if (!event_.fd().valid()) return;
  End end;
  do {
    while (ReadEnd(event_.fd().get(), end))
      if (end.pid > 0) collected_.push_back(end);
  } while (Refill());
  // The pair is empty now, also of the record of no child that an earlier
  // call left to wake the loop for what it collected: one is written
  // again while any collected end waits.
  if (!collected_.empty() && writeEnd_.valid()) {
    const ChildRecord wake{0, 0};
    if (::write(writeEnd_.get(), &wake, sizeof wake) < 0) {
      // Full: the records in it wake the loop all the same.
    }
  }
}

void ChildWaitService::OnChildEvent(int fd, short revents) {
  if (!(revents & POLLIN)) return;
  End end;
  for (;;) {
    // The collected ones first: they were reaped before those still in
    // the pair. One at a time, as a watcher may collect or drain again.
    if (!collected_.empty()) {
      end = collected_.front();
      collected_.pop_front();
    } else if (!ReadEnd(fd, end)) {
      // Children the handler found no room for wait as zombies.
      if (Refill()) continue;
      break;
    }
    if (end.pid > 0) Dispatch(end);
  }
}

void ChildWaitService::Dispatch(const End& end) {
  std::clog << "terminate child process, pid=" << end.pid << " status=" << end.status << std::endl;
  // A watcher attached after the end was read waits for a later process
  // under the same pid.
  ChildWait* w = watchers_.head();
  while (w && (w->pid_ != end.pid || w->since_ >= end.serial)) w = F_dual_list<ChildWait>::next(w);
  if (!w) return;
  Detach(*w);
  // The handler may attach the watcher again or destroy it.
  w->handler_->Invoke(*w, end.status);
}
