#include "runtime/ipc_signal.h"

#include <cstring>

namespace IPC {
namespace Signal {
namespace {

// Three-argument handlers are reached through a one-argument trampoline, so
// no function is ever called through a pointer of another type.
volatile Handler3 handlers3[_NSIG];

void trampoline(int sig) {
  Handler3 h = (sig > 0 && sig < _NSIG) ? handlers3[sig] : nullptr;
  if (h) h(sig, nullptr, nullptr);
}

int install(int sig, void (*handler)(int), const sigset_t& mask, int flags) {
  struct sigaction sa;
  std::memset(&sa, 0, sizeof sa);
  sa.sa_handler = handler;
  sa.sa_mask = mask;
  sa.sa_flags = flags & ~SA_SIGINFO;
  return ::sigaction(sig, &sa, nullptr);
}

}  // namespace

Set::Set(int sig1, int sig2) {
  sigemptyset(&set_);
  sigaddset(&set_, sig1);
  sigaddset(&set_, sig2);
}

Set::Set(int sig1, int sig2, int sig3) : Set(sig1, sig2) { sigaddset(&set_, sig3); }

bool Set::is_signal(int sig) {
  sigset_t s;
  sigemptyset(&s);
  return sigaddset(&s, sig) == 0;
}

int ignore(int sig) { return install(sig, SIG_IGN, Set().get(), 0); }

int system(int sig) { return install(sig, SIG_DFL, Set().get(), 0); }

int handle(int sig, Handler1 handler, const Set& mask, int flags) { return install(sig, handler, mask.get(), flags); }

int handle(int sig, Handler3 handler, const Set& mask, int flags) {
  if (sig > 0 && sig < _NSIG) handlers3[sig] = handler;
  return install(sig, trampoline, mask.get(), flags);
}

int handle(int sig, Handler1 handler, int flags) { return handle(sig, handler, Set(), flags); }

int handle(int sig, Handler3 handler, int flags) { return handle(sig, handler, Set(), flags); }

namespace {

// siginterrupt(3) without the deprecated call: interruption is the absence
// of SA_RESTART.
int setRestart(int sig, bool restart) {
  struct sigaction sa;
  if (::sigaction(sig, nullptr, &sa) != 0) return -1;
  if (restart)
    sa.sa_flags |= SA_RESTART;
  else
    sa.sa_flags &= ~SA_RESTART;
  return ::sigaction(sig, &sa, nullptr);
}

}  // namespace

int disable_int(int sig) { return setRestart(sig, true); }

int enable_int(int sig) { return setRestart(sig, false); }

}  // namespace Signal
}  // namespace IPC
