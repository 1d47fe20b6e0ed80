#pragma once
// A Unix-domain socket address for a path, cut to what sun_path holds (107
// characters and the terminating NUL).
#include <sys/un.h>

#include <cstring>
#include <string>

namespace Control {

inline sockaddr_un UnixAddress(const std::string& path) {
  sockaddr_un a{};
  a.sun_family = AF_UNIX;
  std::strncpy(a.sun_path, path.c_str(), sizeof a.sun_path - 1);
  return a;
}

}  // namespace Control
