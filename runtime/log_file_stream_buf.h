#pragma once
// A stream buffer that writes what a program logs into hourly files
// "<directory>/YYYY_MM_DD-HH.log", each line prefixed with the minute,
// second and microseconds it was written at ("mm:ss:uuuuu: "). A restart
// within the hour appends to that hour's file.
#include <sys/time.h>

#include <fstream>
#include <memory>
#include <streambuf>
#include <string>

class LogFileStreamBuf : public std::streambuf {
 public:
  static constexpr std::streamsize kAreaSize = 16;
  using Clock = void (*)(timeval* now);

  // clock gives the time of day; tests pass their own.
  explicit LogFileStreamBuf(const std::string& directory, Clock clock = nullptr);
  ~LogFileStreamBuf() override;

  // Closes the current file and opens the one for the current hour.
  void NewFile();

  // The file written now ("" before the first).
  const std::string& fileName() const { return mFileName; }

 protected:
  std::streambuf* setbuf(char* area, std::streamsize n) override;
  int sync() override;
  int_type overflow(int_type c) override;

 private:
  timeval now() const;
  void open_for(const timeval& tv);
  void write(const char* p, std::streamsize n) { mFile->sputn(p, n); }

  std::unique_ptr<std::filebuf> mFile;
  std::string mDirectory;
  Clock mClock;
  // Date and hour of the open file: a new one starts when either changes.
  std::string mStamp;
  std::string mFileName;
  bool mInLine = false;
  std::unique_ptr<char[]> mOwned;
};
