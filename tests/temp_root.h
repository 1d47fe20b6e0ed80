#pragma once
// A fresh directory (mktemp -d) made the root of the fixed-path table for
// the life of the object, then removed with everything in it.
#include <stdlib.h>

#include <filesystem>
#include <string>
#include <system_error>

#include "platform/sysroot.h"

class TempRoot {
 public:
  TempRoot() {
    std::string tmpl = (std::filesystem::temp_directory_path() / "kv.XXXXXX").string();
    if (::mkdtemp(tmpl.data())) dir_ = tmpl;
    sysroot::set_root(dir_);
  }
  ~TempRoot() {
    sysroot::set_root("");
    std::error_code ec;
    std::filesystem::remove_all(dir_, ec);
  }
  TempRoot(const TempRoot&) = delete;
  TempRoot& operator=(const TempRoot&) = delete;

  bool ok() const { return !dir_.empty() && sysroot::root() == std::filesystem::canonical(dir_).string(); }
  const std::string& dir() const { return dir_; }
  // Host path of a fixed path, and the directory that holds it.
  std::string path(const std::string& fixed) const { return sysroot::path(fixed); }
  std::string parent(const std::string& fixed) const {
    return std::filesystem::path(sysroot::path(fixed)).parent_path().string();
  }
  // Creates the directory that holds a fixed path.
  void make_parent(const std::string& fixed) const { std::filesystem::create_directories(parent(fixed)); }

 private:
  std::string dir_;
};
