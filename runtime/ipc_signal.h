#pragma once
// A thin layer over sigaction. Handlers get only the signal number: the
// three-argument form is accepted for convenience but SA_SIGINFO is never
// set, so it is called with null info and context.
#include <signal.h>

namespace IPC {
namespace Signal {

class Set {
 public:
  Set(int sig1, int sig2);
  Set(int sig1, int sig2, int sig3);
  Set() { sigemptyset(&set_); }
  const sigset_t& get() const { return set_; }
  // True for a valid signal number.
  static bool is_signal(int sig);

 private:
  sigset_t set_;
};

using Handler1 = void (*)(int);
using Handler3 = void (*)(int, siginfo_t*, void*);

int ignore(int sig);  // SIG_IGN, empty mask, no flags
int system(int sig);  // SIG_DFL, empty mask, no flags
int handle(int sig, Handler1 handler, const Set& mask, int flags);
int handle(int sig, Handler3 handler, const Set& mask, int flags);
int handle(int sig, Handler1 handler, int flags);
int handle(int sig, Handler3 handler, int flags);
int disable_int(int sig);  // siginterrupt(sig, 0)
int enable_int(int sig);   // siginterrupt(sig, 1)

}  // namespace Signal
}  // namespace IPC
