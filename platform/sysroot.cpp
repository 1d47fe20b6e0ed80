#include "platform/sysroot.h"

#include <climits>
#include <cstdlib>
#include <cstring>

namespace sysroot {
namespace {

std::string rootDir;

bool startsWith(const std::string& s, const char* prefix) {
  return s.compare(0, std::strlen(prefix), prefix) == 0;
}

bool isReal(const std::string& p) {
  if (p == proc_dir || p == proc_net_tcp || p == proc_net_tcp6 || p == dev_null || p == localtime) return true;
  // /proc/<pid>/... names a real process; the board's own /proc files do not
  // start with a digit.
  static const std::string procSlash = std::string(proc_dir) + "/";
  return startsWith(p, procSlash.c_str()) && p.size() > procSlash.size() &&
         p[procSlash.size()] >= '0' && p[procSlash.size()] <= '9';
}

}  // namespace

bool set_root(const std::string& dir) {
  if (dir.empty()) {
    rootDir.clear();
    return true;
  }
  char buf[PATH_MAX];
  if (!::realpath(dir.c_str(), buf)) return false;
  rootDir = buf;
  if (rootDir == "/") rootDir.clear();
  return true;
}

const std::string& root() { return rootDir; }

std::string path(const std::string& fixed) {
  if (rootDir.empty() || fixed.empty() || fixed[0] != '/' || isReal(fixed)) return fixed;
  return rootDir + fixed;
}

}  // namespace sysroot
