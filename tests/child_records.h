#pragma once
// How many child records the daemon's SIGCHLD handler can queue before its
// loop reads them: the room of a datagram socket pair made as the handler's
// is, filled with 8-byte records until it refuses one.
#include <fcntl.h>
#include <sys/socket.h>
#include <unistd.h>

#include <cstddef>
#include <cstdint>

namespace testkit {

inline std::size_t childRecordRoom() {
  int pair[2];
  if (::socketpair(AF_UNIX, SOCK_DGRAM, 0, pair) != 0) return 0;
  ::fcntl(pair[0], F_SETFL, ::fcntl(pair[0], F_GETFL) | O_NONBLOCK);
  std::size_t room = 0;
  const std::int32_t record[2] = {0, 0};
  while (::write(pair[0], record, sizeof record) == static_cast<ssize_t>(sizeof record)) ++room;
  ::close(pair[0]);
  ::close(pair[1]);
  return room;
}

}  // namespace testkit
