#pragma once
// The stand-in for the PPP daemon and the fax programs (pppd_fax.py, which
// describes its plan steps), installed under the current root at a
// program's board path, and what it wrote there read back.
#include <sys/stat.h>

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <string>
#include <vector>

#include "platform/sysroot.h"
#include "tests/build_paths.h"

namespace standin {

inline std::string script() { return testkit::sourceDir() + "/tests/standins/pppd_fax.py"; }

inline std::string read(const std::string& path) {
  std::ifstream f(path);
  std::ostringstream s;
  s << f.rdbuf();
  return s.str();
}

// Installs the stand-in at a board path (sysroot::pppd, ...) with a plan,
// one step a line; forgets what an earlier run wrote, and the files its
// plan awaited.
inline bool install(const std::string& program, const std::string& plan) {
  namespace fs = std::filesystem;
  const std::string at = sysroot::path(program);
  std::error_code ec;
  fs::create_directories(fs::path(at).parent_path(), ec);
  fs::copy_file(script(), at, fs::copy_options::overwrite_existing, ec);
  if (ec || ::chmod(at.c_str(), 0755) != 0) return false;
  for (const char* old : {".argv", ".log", ".go"}) fs::remove(at + old, ec);
  std::ofstream(at + ".plan") << plan;
  return true;
}

// Installs a shell script at a board path that runs the stand-in (installed
// next to it, "-real") with its own arguments, not in its place: the
// stand-in is the script's child.
inline bool wrap(const std::string& program, const std::string& plan) {
  const std::string real = program + "-real";
  if (!install(real, plan)) return false;
  const std::string at = sysroot::path(program);
  std::ofstream(at) << "#!/bin/sh\n" << sysroot::path(real) << " \"$@\"\nstatus=$?\nexit $status\n";
  return ::chmod(at.c_str(), 0755) == 0;
}

// The argument vector of its last run, one argument a line.
inline std::string argv(const std::string& program) { return read(sysroot::path(program) + ".argv"); }
inline std::vector<std::string> args(const std::string& program) {
  std::vector<std::string> out;
  std::istringstream lines(argv(program));
  for (std::string line; std::getline(lines, line);) out.push_back(line);
  return out;
}
// What it did, one line a step.
inline std::string log(const std::string& program) { return read(sysroot::path(program) + ".log"); }

}  // namespace standin
