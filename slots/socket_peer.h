#pragma once
// Which local process holds the other end of a TCP connection that this
// process accepted on the loopback.
//
// The peer socket's inode comes from one exact query of the kernel's socket
// diagnostics (inet_diag) for the connection's addresses crossed, in either
// address family (a dual-stack socket's v4-mapped addresses included): it
// costs the same whatever else the host holds open. A peer that its process
// has closed already is found too, with inode 0: held by no process, which
// is the answer, as the tables would give it. A kernel without them, or an
// answer that does not fit the question, leaves the socket tables
// ("/proc/net/tcp" and "/proc/net/tcp6"), read whole: there the peer is the
// entry whose local and remote addresses are those of the accepted socket
// crossed, compared as the kernel prints them, so neither side's byte order
// matters.
//
// A program holds the socket when it or a process it started has a
// descriptor ("/proc/PID/fd") that names that inode.
#include <sys/types.h>

#include <istream>
#include <vector>

namespace socket_peer {

// The inode of the peer socket of the connected socket whose own inode is
// given, in tables of the kernel's format; 0 when it is not there.
ino_t peer_inode(std::istream& table, ino_t own);
ino_t peer_inode(std::istream& tcp, std::istream& tcp6, ino_t own);
// The peer's inode for a connected descriptor from the socket diagnostics;
// false when they gave no answer to trust (inode is 0 for a peer that is
// not there, or that no process holds any more).
bool diag_peer_inode(int fd, ino_t& inode);
// The same from the kernel's socket tables.
ino_t table_peer_inode(int fd);
// The diagnostics' answer, else the tables'.
ino_t peer_inode(int fd);
// Whether process pid has a descriptor on the socket inode.
bool held_by(pid_t pid, ino_t inode);
// Of the candidate programs, the one that, itself or through a process it
// started, holds the other end of the connected descriptor fd; -1 when
// none does (or the peer is not found).
pid_t holder(int fd, const std::vector<pid_t>& candidates);

}  // namespace socket_peer
