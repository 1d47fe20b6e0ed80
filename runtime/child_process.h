#pragma once
// Starting and letting go of child programs.
//
// Fork() is fork() without the daemon's signal handling in the child: the
// loop's handlers only raise flags in the daemon's memory, so a signal that
// reaches a copy of them between fork and exec is lost (a SIGTERM sent to a
// program that has just been started would never end it). All signals are
// blocked across the fork; the child puts every handled signal back to its
// default and only then unblocks, so a signal that came early takes its
// default effect at once. The child leads a process group of its own, so
// that what it starts in turn can be told to stop with it.
//
// Signal() reaches a program and everything it started: its process group
// and the processes descended from it that have left the group (read from
// /proc before anything is sent, and remembered, since nothing ties them
// to the program once their parent has ended).
//
// Nothing is signalled on trust in a pid. Every end already reaped is read
// before anything is sent or started, so a program that has ended is taken
// for ended whatever its owner believes, and a new one never shares its
// pid with an end still to be read. What an ended program left running is
// decided when its end is read: each process then in its group (of the
// daemon's session) or remembered, by pid and start time. Afterwards only
// those still alive as the same process are signalled, with what they
// started since, and the group's id while one of them is still in the
// group, or while every process in it descends from the daemon and no
// process holds the pid (see Adopt). A process that left the group and
// was not seen while the program ran is not followed.
//
// Adopt() makes the daemon the reaper of what its programs leave: such a
// process stays the daemon's descendant until the daemon reaps it, so a
// process of an ended program's group that descends from the daemon is
// that program's, also one a leftover started before it exited.
//
// Abandon() takes over a child whose owner goes: it sends the owner's stop
// signal to the program and, when the program or anything it started has
// not ended after the grace period, SIGKILL with one log line. Nothing the
// daemon started thus outlives its owner for long, nor keeps what it
// inherited (a controller channel) away from the next user.
#include <sys/types.h>

#include <cstddef>
#include <string>

class ChildProcess {
 public:
  // As fork(): the child's 0, the child's pid, or -1 with errno set.
  static pid_t Fork();

  // Sends sig to the program started as pid and to every process it
  // started. ended: its owner has seen its end (and its pid may be someone
  // else's): only what it left is signalled, as for any program whose end
  // has been read. After SIGKILL nothing of it is remembered.
  static void Signal(pid_t pid, int sig, bool ended = false);

  // Sends sig (none when 0) to the program as Signal does and kills what
  // is left of it after grace_ms; what names the child in the log line.
  // Needs the child watch (ChildWait::Activate) for a program that has not
  // ended; pid < 1 is ignored.
  static void Abandon(pid_t pid, int sig, unsigned grace_ms, const std::string& what, bool ended = false);

  // Once, by the daemon before its loop runs; not when it is the first
  // process of its namespace.
  static void Adopt();

  // Abandoned programs not yet seen to end.
  static std::size_t abandoned();

  // The daemon stops: waits for the abandoned programs until their grace
  // periods are over and kills what is left of them.
  static void Settle();
};
