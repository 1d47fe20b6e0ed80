#pragma once
// Daemon mode: detach from the terminal and send what the standard streams
// carry to the system log (std::cout as notice, std::cerr as err, std::clog
// as debug, all of the daemon facility) or to hourly log files.
#include <streambuf>
#include <string>

class LogFileStreamBuf;

namespace Daemon {

struct Params {
  static constexpr int kSysLog = 0;
  static constexpr int kLogFiles = 1;

  // kSysLog, kLogFiles, or anything else to detach only.
  int mode = kSysLog;
  // Stay in the current directory instead of changing to "/".
  bool keepDirectory = false;
  // The system log identity, or the directory of the log files.
  std::string name = "unknown";
};

// Detaches and reroutes the standard streams for the rest of the process.
class Sentry {
 public:
  explicit Sentry(const Params& params);
  ~Sentry();
  Sentry(const Sentry&) = delete;
  Sentry& operator=(const Sentry&) = delete;

 private:
  int mMode;
  LogFileStreamBuf* mFileBuf = nullptr;
  std::streambuf* mSaved[3] = {nullptr, nullptr, nullptr};
};

// The first call detaches (ending the process with status 2 when it cannot)
// and reroutes the streams; later calls do nothing.
void Init(const Params& params);

}  // namespace Daemon
