// Goes into daemon mode the way the daemon does and writes a few known lines,
// so that tests can check what reaches the system log or the log files.
//
//   log_probe syslog IDENT   records to the system log socket under
//                            KORVEND_ROOT; waits for SIGUSR1 before the
//                            last lines
//   log_probe files DIR      hourly log files in DIR
#include <signal.h>
#include <unistd.h>

#include <cstdlib>
#include <cstring>
#include <iostream>
#include <string>

#include "platform/sysroot.h"
#include "runtime/daemon.h"

int main(int argc, char** argv) {
  if (argc != 3) {
    std::cerr << "usage: log_probe syslog IDENT | log_probe files DIR" << std::endl;
    return 2;
  }
  const char* root = std::getenv("KORVEND_ROOT");
  if (root && !sysroot::set_root(root)) {
    std::cerr << "log_probe: no root " << root << std::endl;
    return 2;
  }
  sigset_t usr1;
  sigemptyset(&usr1);
  sigaddset(&usr1, SIGUSR1);
  sigprocmask(SIG_BLOCK, &usr1, nullptr);

  Daemon::Params params;
  params.name = argv[2];
  if (std::strcmp(argv[1], "files") == 0) {
    params.mode = Daemon::Params::kLogFiles;
    Daemon::Init(params);
    std::cout << "to standard output" << std::endl;
    std::cerr << "to standard error" << std::endl;
    std::clog << "to the log stream" << std::endl;
    return 0;
  }

  Daemon::Init(params);
  Daemon::Init(params);  // a second call changes nothing
  std::cerr << "abc" << std::endl;
  std::clog << "line1\nline2\n" << std::flush;
  std::clog << "pid " << ::getpid() << std::endl;
  const char raw[] = "raw descriptor 2\n";
  if (::write(STDERR_FILENO, raw, sizeof raw - 1) < 0) return 1;
  int sig = 0;
  sigwait(&usr1, &sig);
  std::cout << "marker" << std::endl;
  std::cout << "flushed at exit\n";
  return 0;
}
