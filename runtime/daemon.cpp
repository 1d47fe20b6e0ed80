#include "runtime/daemon.h"

#include <sys/un.h>
#include <syslog.h>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <iostream>

#include "runtime/log_file_stream_buf.h"
#include "runtime/syslog_manager.h"
#include "runtime/syslog_stream_buf.h"

namespace Daemon {

Sentry::Sentry(const Params& params) : mMode(params.mode) {
  if (mMode == Params::kSysLog) {
    // Say it while the terminal still listens: after the detach nobody would.
    sockaddr_un addr;
    std::string error;
    if (!SysLogManager::address(addr, error)) std::cerr << error << std::endl;
  }
  // Text still buffered for the terminal must not reach the log socket raw.
  std::cout.flush();
  std::fflush(stdout);
  if (::daemon(params.keepDirectory ? 1 : 0, 0) != 0) {
    std::cerr << "daemon() fail!" << std::endl;
    std::exit(2);
  }

  if (mMode == Params::kSysLog) {
    static char ident[80];
    std::strncpy(ident, params.name.c_str(), sizeof ident - 1);
    ident[sizeof ident - 1] = '\0';
    syslogManager.openlog(ident, LOG_NDELAY, 0);
    // Never destroyed: the streams flush into them until the very end.
    std::cout.rdbuf(new ManagedSysLogStreamBuf(LOG_DAEMON, LOG_NOTICE));
    std::cerr.rdbuf(new ManagedSysLogStreamBuf(LOG_DAEMON, LOG_ERR));
    std::clog.rdbuf(new ManagedSysLogStreamBuf(LOG_DAEMON, LOG_DEBUG));
    std::cin.tie(&std::cout);
    // Raw writes to the standard descriptors reach the log socket too, and
    // so does what the programs the daemon starts write to theirs, after a
    // restart of the log daemon as well. While no log daemon answers they
    // hold the null device, as daemon() left them.
    syslogManager.copyOnto(STDOUT_FILENO);
    syslogManager.copyOnto(STDERR_FILENO);
  } else if (mMode == Params::kLogFiles) {
    mFileBuf = new LogFileStreamBuf(params.name);
    mSaved[0] = std::cout.rdbuf(mFileBuf);
    mSaved[1] = std::cerr.rdbuf(mFileBuf);
    mSaved[2] = std::clog.rdbuf(mFileBuf);
  }
}

Sentry::~Sentry() {
  if (mMode != Params::kLogFiles) return;
  std::cout.flush();
  std::cout.rdbuf(mSaved[0]);
  std::cerr.rdbuf(mSaved[1]);
  std::clog.rdbuf(mSaved[2]);
  delete mFileBuf;
}

void Init(const Params& params) { static Sentry sentry(params); }

}  // namespace Daemon
