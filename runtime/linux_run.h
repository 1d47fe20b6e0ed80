#pragma once
// The pid file that marks the running daemon: "/var/run/<name>.pid" holding
// the process id in decimal (no line feed). Written when the object is built
// (after daemonising, so it holds the daemon's own pid) and removed when it
// is destroyed. An existing file is overwritten; a file that could not be
// created is neither reported nor removed.
#include <string>

namespace Linux {

class Run {
 public:
  explicit Run(const char* name);
  ~Run();
  Run(const Run&) = delete;
  Run& operator=(const Run&) = delete;

  bool created() const { return fd_ >= 0; }
  // The host path of the pid file.
  const std::string& path() const { return path_; }

 private:
  int fd_ = -1;
  std::string path_;
};

}  // namespace Linux
