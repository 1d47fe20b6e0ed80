#include "runtime/linux_run.h"

#include <fcntl.h>
#include <unistd.h>

#include <string>

#include "platform/sysroot.h"

namespace Linux {

Run::Run(const char* name) : path_(sysroot::path(std::string(sysroot::run_dir) + name + ".pid")) {
  fd_ = ::open(path_.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_SYNC | O_CLOEXEC, 0644);
  if (fd_ < 0) return;
  const std::string pid = std::to_string(::getpid());
  if (::write(fd_, pid.data(), pid.size()) < 0) {
    // Nothing to report: the pid file is a courtesy to operators.
  }
  ::fsync(fd_);
}

Run::~Run() {
  if (fd_ < 0) return;
  ::close(fd_);
  ::unlink(path_.c_str());
}

}  // namespace Linux
