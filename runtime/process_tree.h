#pragma once
// The processes a started program is made of, read from /proc: the program
// itself, the members of its process group (a program started with
// ChildProcess::Fork leads a group of its own), and every process descended
// from either, also one that has left the group (a daemon that detaches
// with setsid). Parents are read before anything is signalled: a process
// whose parent has ended is the init process's child afterwards.
#include <sys/types.h>

#include <cstddef>
#include <vector>

namespace process_tree {

struct Process {
  pid_t pid = 0;
  pid_t ppid = 0;
  pid_t pgid = 0;
  pid_t sid = 0;
  // Clock ticks since boot at its start: tells a process from a later one
  // under the same pid.
  unsigned long long start = 0;
};

// One line of /proc/PID/stat; false when it is not one.
bool parse(const char* stat, std::size_t length, Process& out);
// The process now under pid; false when there is none.
bool read(pid_t pid, Process& out);
// Every process of the host.
std::vector<Process> all();

// Of the processes, those of the program that leads group `leader`,
// the leader first when it is among them. ended: the leader's end has been
// seen, so a process under its pid now is someone else's and so is a group
// it leads.
std::vector<Process> of(pid_t leader, bool ended, const std::vector<Process>& processes);

// Whether the process is still the one recorded (same pid, same start).
bool same(const Process& p);

// Sends sig to the program's group and to those of its processes outside
// the group, as recorded; ones since gone or replaced are passed over.
// ended as above. How many processes were signalled.
std::size_t signal(pid_t leader, bool ended, const std::vector<Process>& tree, int sig);

}  // namespace process_tree
