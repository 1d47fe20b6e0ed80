#pragma once
// Starting and letting go of child programs.
//
// Fork() is fork() without the daemon's signal handling in the child: the
// loop's handlers only raise flags in the daemon's memory, so a signal that
// reaches a copy of them between fork and exec is lost (a SIGTERM sent to a
// program that has just been started would never end it). All signals are
// blocked across the fork; the child puts every handled signal back to its
// default and only then unblocks, so a signal that came early takes its
// default effect at once.
//
// Abandon() takes over a child whose owner goes before it has ended: it
// sends the owner's stop signal and, when the child has not ended after the
// grace period, SIGKILL with one log line. Nothing the daemon started thus
// outlives its owner for long, nor keeps what it inherited (a controller
// channel) away from the next user.
#include <sys/types.h>

#include <cstddef>
#include <string>

class ChildProcess {
 public:
  // As fork(): the child's 0, the child's pid, or -1 with errno set.
  static pid_t Fork();

  // Sends sig to pid now and kills it after grace_ms unless it has ended by
  // then; what names the child in the log line. Needs the child watch
  // (ChildWait::Activate); pid < 1 is ignored.
  static void Abandon(pid_t pid, int sig, unsigned grace_ms, const std::string& what);

  // Abandoned children not yet seen to end.
  static std::size_t abandoned();
};
