#pragma once
// What the daemon benchmarks share: a lean client on one blocking socket
// that writes requests in batches and checks every reply octet for octet,
// and the simulated board's journal.
#include <sys/socket.h>
#include <sys/un.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cstring>
#include <string>
#include <vector>

#include "platform/sysroot.h"
#include "tests/e2e/raw_client.h"

namespace bench {

using Clock = std::chrono::steady_clock;

// One request and the reply it must get.
struct Exchange {
  std::string request;
  std::string reply;
};

// Connects, retrying for a few seconds while the server starts.
inline int connectTo(int port) {
  int s = -1;
  testkit::waitFor([&] { return (s = testkit::connectTo(port)) >= 0; });
  return s;
}

// Requests per second over `count` requests taken in turn from `cycle`,
// `depth` of them written at once before their replies are read; 0 when a
// reply differs from the expected one or the connection fails. With framed,
// the octets are TPKT frames, and signals among them (the daemon's own
// reports, a slot's stream changes) are passed over.
inline double measure(int s, const std::vector<Exchange>& cycle, unsigned depth, unsigned count, bool framed) {
  std::vector<unsigned char> in(65536);
  std::size_t have = 0;  // octets read and not yet taken
  std::size_t next = 0;  // the cycle's next request
  const auto t0 = Clock::now();
  for (unsigned done = 0; done < count; done += depth) {
    std::string batch;
    std::vector<const std::string*> replies;
    for (unsigned i = 0; i < depth; ++i, next = (next + 1) % cycle.size()) {
      batch += cycle[next].request;
      replies.push_back(&cycle[next].reply);
    }
    if (::write(s, batch.data(), batch.size()) != static_cast<ssize_t>(batch.size())) return 0;
    for (std::size_t got = 0; got < replies.size();) {
      const ssize_t n = ::read(s, in.data() + have, in.size() - have);
      if (n <= 0) return 0;
      have += static_cast<std::size_t>(n);
      std::size_t at = 0;
      for (;;) {
        std::size_t unit = got < replies.size() ? replies[got]->size() : 0;
        if (framed) {
          if (have - at < 4) break;
          unit = std::size_t(in[at + 2]) << 8 | in[at + 3];
          if (unit < 4) return 0;
        }
        if (unit == 0 || have - at < unit) break;
        if (!(framed && e2e::isSignal(&in[at + 4], unit - 4))) {
          if (got == replies.size()) return 0;
          const std::string& reply = *replies[got];
          if (unit != reply.size() || std::memcmp(&in[at], reply.data(), unit) != 0) return 0;
          ++got;
        }
        at += unit;
      }
      std::memmove(in.data(), in.data() + at, have - at);
      have -= at;
    }
  }
  const double seconds = std::chrono::duration<double>(Clock::now() - t0).count();
  return count / seconds;
}

// Asks the simulated board under root to forget its journal, which grows
// by a line for every device request; false when it did not answer.
inline bool clearJournal(const std::string& root) {
  const int s = ::socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0);
  sockaddr_un a{};
  a.sun_family = AF_UNIX;
  const std::string path = root + sysroot::sim_board_socket;
  std::strncpy(a.sun_path, path.c_str(), sizeof a.sun_path - 1);
  std::string reply;
  if (s >= 0 && ::connect(s, reinterpret_cast<const sockaddr*>(&a), sizeof a) == 0 &&
      ::write(s, "journal clear\n", 14) == 14) {
    char buf[256];
    for (ssize_t n; reply.find('\n') == std::string::npos && (n = ::read(s, buf, sizeof buf)) > 0;)
      reply.append(buf, static_cast<std::size_t>(n));
  }
  if (s >= 0) ::close(s);
  return reply == ".\n";
}

inline double median(std::vector<double> v) {
  std::sort(v.begin(), v.end());
  return v.empty() ? 0 : v[v.size() / 2];
}

}  // namespace bench
