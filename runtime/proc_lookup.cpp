#include "runtime/proc_lookup.h"

#include <dirent.h>
#include <fcntl.h>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>

#include "platform/sysroot.h"

namespace {

bool hasName(int pid, const char* name) {
  char path[64];
  std::snprintf(path, sizeof path, sysroot::proc_stat_format, pid);
  int fd = ::open(path, O_RDONLY | O_CLOEXEC);
  if (fd < 0) return false;
  char buf[256];
  ssize_t n = ::read(fd, buf, 255);
  ::close(fd);
  if (n <= 0) return false;
  std::string stat(buf, static_cast<std::size_t>(n));
  // The command name may itself contain ")": it ends at the last one.
  std::size_t open = stat.find('(');
  std::size_t close = stat.rfind(')');
  if (open == std::string::npos || close == std::string::npos || close < open) return false;
  return stat.compare(open + 1, close - open - 1, name) == 0;
}

}  // namespace

int find_proc_by_name(const char* name, int hint) {
  if (hint > 0 && hasName(hint, name)) return hint;
  DIR* dir = ::opendir(sysroot::path(sysroot::proc_dir).c_str());
  if (!dir) return -1;
  int result = -1;
  while (struct dirent* entry = ::readdir(dir)) {
    int pid = std::atoi(entry->d_name);
    if (pid > 0 && hasName(pid, name)) {
      result = pid;
      break;
    }
  }
  ::closedir(dir);
  return result;
}
