#pragma once
// Test side of the system log: a socket bound where the daemon looks for its
// log socket under a test root, and helpers to read what arrives.
#include <poll.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/un.h>
#include <unistd.h>

#include <cctype>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

namespace testlog {

class Receiver {
 public:
  explicit Receiver(const std::string& path, int type = SOCK_DGRAM) : mPath(path) {
    ::unlink(path.c_str());
    mFd = ::socket(AF_UNIX, type | SOCK_CLOEXEC, 0);
    sockaddr_un addr{};
    addr.sun_family = AF_UNIX;
    std::strncpy(addr.sun_path, path.c_str(), sizeof addr.sun_path - 1);
    if (::bind(mFd, reinterpret_cast<sockaddr*>(&addr), sizeof addr) != 0) {
      ::close(mFd);
      mFd = -1;
    }
    if (mFd >= 0 && type == SOCK_STREAM) ::listen(mFd, 4);
  }
  ~Receiver() { stop(); }
  Receiver(const Receiver&) = delete;
  Receiver& operator=(const Receiver&) = delete;

  bool ok() const { return mFd >= 0; }
  int fd() const { return mFd; }

  // Closes the socket and removes its name, as a stopped log daemon does.
  void stop() {
    if (mFd >= 0) {
      ::close(mFd);
      ::unlink(mPath.c_str());
    }
    mFd = -1;
  }

  // The next datagram, waiting at most timeoutMs; false when none came.
  bool receive(std::string& datagram, int timeoutMs = 10000) {
    pollfd p{mFd, POLLIN, 0};
    if (mFd < 0 || ::poll(&p, 1, timeoutMs) != 1) return false;
    char buf[65536];
    const ssize_t n = ::recv(mFd, buf, sizeof buf, 0);
    if (n < 0) return false;
    datagram.assign(buf, static_cast<size_t>(n));
    return true;
  }

  // True when nothing is waiting. Local datagrams are queued by the send
  // itself, so no wait is needed after the sender returned.
  bool empty() {
    pollfd p{mFd, POLLIN, 0};
    return ::poll(&p, 1, 0) == 0;
  }

 private:
  std::string mPath;
  int mFd = -1;
};

// The zero-terminated records of one datagram; a trailing piece without its
// zero is returned with "<unterminated>" appended so that tests see it.
inline std::vector<std::string> Records(const std::string& datagram) {
  std::vector<std::string> out;
  size_t start = 0;
  while (start < datagram.size()) {
    const size_t z = datagram.find('\0', start);
    if (z == std::string::npos) {
      out.push_back(datagram.substr(start) + "<unterminated>");
      break;
    }
    out.push_back(datagram.substr(start, z - start));
    start = z + 1;
  }
  return out;
}

// True when text matches shape character by character: in shape, "9"
// stands for a digit, "A" for an upper-case and "a" for a lower-case
// letter, "?" for a blank or a digit; every other character for itself.
inline bool Fits(const std::string& text, const std::string& shape) {
  if (text.size() != shape.size()) return false;
  for (size_t i = 0; i < text.size(); ++i) {
    const unsigned char c = static_cast<unsigned char>(text[i]);
    switch (shape[i]) {
      case '9': if (!std::isdigit(c)) return false; break;
      case 'A': if (!std::isupper(c)) return false; break;
      case 'a': if (!std::islower(c)) return false; break;
      case '?': if (c != ' ' && !std::isdigit(c)) return false; break;
      default: if (text[i] != shape[i]) return false;
    }
  }
  return true;
}

// Replaces the "Mmm dd hh:mm:ss" stamp after the priority with "STAMP";
// a record without a well-formed stamp is returned unchanged.
inline std::string MaskStamp(const std::string& record) {
  const size_t gt = record.find('>');
  if (record.empty() || record[0] != '<' || gt == std::string::npos || gt < 2) return record;
  for (size_t i = 1; i < gt; ++i)
    if (!std::isdigit(static_cast<unsigned char>(record[i]))) return record;
  const std::string stamp = record.substr(gt + 1, 16);
  if (!Fits(stamp, "Aaa ?9 99:99:99 ")) return record;
  return record.substr(0, gt + 1) + "STAMP " + record.substr(gt + 17);
}

// The records of the next datagram with their stamps masked, or
// {"<nothing>"} when none came.
inline std::vector<std::string> NextRecords(Receiver& rx) {
  std::string d;
  if (!rx.receive(d)) return {"<nothing>"};
  std::vector<std::string> out;
  for (const std::string& r : Records(d)) out.push_back(MaskStamp(r));
  return out;
}

// The record logger(1) writes for the same identity, priority and text, or
// "" when logger is not installed.
inline std::string LoggerRecord(const std::string& socketPath, const char* priority, const std::string& ident,
                                const std::string& text, Receiver& receiver) {
  if (std::system("command -v logger >/dev/null 2>&1") != 0) return "";
  const std::string cmd = "logger -u '" + socketPath + "' -p " + priority + " -t '" + ident + "' -- '" + text + "'";
  if (std::system(cmd.c_str()) != 0) return "";
  std::string d;
  return receiver.receive(d) ? d : "";
}

}  // namespace testlog
