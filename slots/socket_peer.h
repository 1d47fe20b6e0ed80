#pragma once
// Which local process holds the other end of a TCP connection that this
// process accepted on the loopback. The kernel's socket table
// ("/proc/net/tcp") gives the peer socket's inode: it is the entry whose
// local and remote addresses are those of the accepted socket crossed,
// compared as the kernel prints them, so neither side's byte order
// matters. A process holds the socket when one of its descriptors
// ("/proc/PID/fd") names that inode.
#include <sys/types.h>

#include <istream>
#include <vector>

namespace socket_peer {

// The inode of the peer socket of the connected socket whose own inode is
// given, in a table of the kernel's format; 0 when it is not there.
ino_t peer_inode(std::istream& table, ino_t own);
// The same from the kernel's table for a connected descriptor.
ino_t peer_inode(int fd);
// Whether process pid has a descriptor on the socket inode.
bool held_by(pid_t pid, ino_t inode);
// Of the candidates, the process that holds the other end of the connected
// descriptor fd; -1 when none does (or the peer is not found).
pid_t holder(int fd, const std::vector<pid_t>& candidates);

}  // namespace socket_peer
