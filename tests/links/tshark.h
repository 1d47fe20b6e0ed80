#pragma once
// A frame log read back by tshark, for the tests of the MTP2 links.
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <string>

#include "tests/links/frame_log.h"

namespace linktest {

// Why tshark cannot read the logs here, or null when it can.
inline const char* tshark_missing() {
  const char* emulator = std::getenv("KORVEND_EMULATOR");
  if (emulator && *emulator) return "qemu-user: tshark is a host program run on the host's file";
  // "missing: " is the kind tests/skip_reason.h gives a tool not installed.
  if (std::system("command -v tshark >/dev/null 2>&1") != 0) return "missing: tshark";
  return nullptr;
}

// What tshark prints of the log, given its options (a display filter, the
// fields to print).
inline std::string tshark(const FrameLog& log, const std::string& args) {
  std::string path = (std::filesystem::temp_directory_path() / "korvend-frames-XXXXXX").string();
  const int fd = mkstemp(path.data());
  if (fd < 0) return "(no temporary file)";
  close(fd);
  std::string out;
  if (log.write_pcapng(path))
    if (FILE* f = popen(("tshark -r " + path + " " + args + " 2>/dev/null").c_str(), "r")) {
      char buf[512];
      while (std::fgets(buf, sizeof buf, f)) out += buf;
      pclose(f);
    }
  std::remove(path.c_str());
  return out;
}

}  // namespace linktest
