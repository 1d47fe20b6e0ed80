#pragma once
// Stream buffers that turn what a program writes to a standard stream into
// system log records: each line becomes one record at the buffer's priority.
// Text is collected until a flush finds a line feed (or the area is full),
// so a line written in pieces still makes one record.
#include <memory>
#include <streambuf>

// Lines go to the C library's syslog(3).
class SysLogStreamBuf : public std::streambuf {
 public:
  static constexpr std::streamsize kAreaSize = 1024;

  // facility is a LOG_ facility code (already shifted, LOG_DAEMON is 24),
  // priority a LOG_ severity.
  SysLogStreamBuf(int facility, int priority);
  ~SysLogStreamBuf() override;

 protected:
  // Uses the caller's area of n bytes, the last one kept for a terminating
  // zero; n below 2 changes nothing.
  std::streambuf* setbuf(char* area, std::streamsize n) override;
  int sync() override;
  int_type overflow(int_type c) override;

  // Passes each complete line (without its line feed), and any text after
  // the last one, to emit and empties the area; false when it passed
  // nothing because the text is a line still growing.
  bool split_lines(void (*emit)(int priority, const char* line));
  void own_area(std::streamsize n);

  int mPriority;

 private:
  std::unique_ptr<char[]> mOwned;
};

// Lines go to the daemon's own client, syslogManager, and every flush that
// produced records sends them together.
class ManagedSysLogStreamBuf : public SysLogStreamBuf {
 public:
  static constexpr std::streamsize kManagedAreaSize = 16384;

  ManagedSysLogStreamBuf(int facility, int priority);
  ~ManagedSysLogStreamBuf() override;

 protected:
  int sync() override;
};
