#pragma once
// busybox syslogd as the reference system log daemon for tests. It always
// binds the board's own socket path, so it runs in a mount namespace of its
// own where the test root's device directory stands in for the real one;
// the daemon under test, mapped to the same root, finds it there.
#include <signal.h>
#include <unistd.h>

#include <cstdlib>
#include <filesystem>
#include <string>

#include "platform/sysroot.h"
#include "tests/runtime/test_process.h"
#include "tests/skip_reason.h"

namespace testlog {

class BusyboxSyslogd {
 public:
  // Appends what it receives to messages, one line per record:
  // "Mmm dd hh:mm:ss host facility.severity text". whyNot() tells when it
  // could not start (tests then skip).
  BusyboxSyslogd(const std::string& root, const std::string& messages) {
    if (std::system("command -v busybox >/dev/null 2>&1 && command -v unshare >/dev/null 2>&1") != 0) {
      mWhyNot = testkit::missing("busybox or unshare");
      return;
    }
    const std::string devDir = std::filesystem::path(sysroot::syslog_socket).parent_path().string();
    const std::string script =
        "mount --bind '" + root + devDir + "' " + devDir + " && exec busybox syslogd -n -O '" + messages + "'";
    // It binds its socket before it logs that it started.
    auto starts = [&] {
      const std::string text = testproc::ReadFile(messages);
      size_t n = 0;
      for (size_t at = text.find("syslogd started"); at != std::string::npos; at = text.find("syslogd started", at + 1))
        ++n;
      return n;
    };
    const size_t before = starts();
    mPid = testproc::Spawn({"unshare", ::getuid() == 0 ? "-m" : "-Urm", "sh", "-c", script});
    const bool up = mPid > 0 && testproc::WaitFor([&] { return starts() > before; });
    if (!up) {
      stop();
      mWhyNot = testkit::refused("busybox syslogd did not start in a private mount namespace");
    }
  }
  ~BusyboxSyslogd() { stop(); }
  BusyboxSyslogd(const BusyboxSyslogd&) = delete;
  BusyboxSyslogd& operator=(const BusyboxSyslogd&) = delete;

  void stop() {
    if (mPid > 0 && ::kill(mPid, SIGTERM) == 0) testproc::Finish(mPid);
    mPid = -1;
  }
  const std::string& whyNot() const { return mWhyNot; }

 private:
  pid_t mPid = -1;
  std::string mWhyNot;
};

}  // namespace testlog
