#include "runtime/log_file_stream_buf.h"

#include <cstdio>
#include <cstring>
#include <ctime>

namespace {

void wall_clock(timeval* now) { ::gettimeofday(now, nullptr); }

}  // namespace

LogFileStreamBuf::LogFileStreamBuf(const std::string& directory, Clock clock)
    : mFile(new std::filebuf), mDirectory(directory), mClock(clock ? clock : wall_clock), mOwned(new char[kAreaSize]) {
  setp(mOwned.get(), mOwned.get() + kAreaSize);
  NewFile();
}

LogFileStreamBuf::~LogFileStreamBuf() {
  sync();
  mFile->close();
}

timeval LogFileStreamBuf::now() const {
  timeval tv{};
  mClock(&tv);
  return tv;
}

void LogFileStreamBuf::open_for(const timeval& tv) {
  mFile->close();
  tm local;
  const time_t secs = tv.tv_sec;
  ::localtime_r(&secs, &local);
  char stamp[64];
  std::strftime(stamp, sizeof stamp, "%Y_%m_%d-%H", &local);
  mStamp = stamp;
  mFileName = mDirectory + "/" + mStamp + ".log";
  // Append: a daemon restarted within the hour keeps what it wrote before.
  mFile->open(mFileName, std::ios::out | std::ios::app);
}

void LogFileStreamBuf::NewFile() { open_for(now()); }

std::streambuf* LogFileStreamBuf::setbuf(char* area, std::streamsize n) {
  if (n < 2) return this;
  setp(area, area + n);
  mOwned.reset();
  return this;
}

int LogFileStreamBuf::sync() {
  char* text = pbase();
  char* const end = pptr();
  if (!text) return 0;
  if (mInLine) {
    // The rest of a line already begun: no second prefix.
    char* lf = static_cast<char*>(std::memchr(text, '\n', end - text));
    if (!lf) {
      write(text, end - text);
      setp(pbase(), epptr());
      return 0;
    }
    write(text, lf + 1 - text);
    text = lf + 1;
    mInLine = false;
  }

  const timeval tv = now();
  tm local;
  const time_t secs = tv.tv_sec;
  ::localtime_r(&secs, &local);
  char stamp[64];
  std::strftime(stamp, sizeof stamp, "%Y_%m_%d-%H", &local);
  if (mStamp != stamp) open_for(tv);

  char prefix[64];
  const int plen =
      std::snprintf(prefix, sizeof prefix, "%02d:%02d:%05ld: ", local.tm_min, local.tm_sec, static_cast<long>(tv.tv_usec));
  while (text < end) {
    char* lf = static_cast<char*>(std::memchr(text, '\n', end - text));
    write(prefix, plen);
    if (!lf) {
      write(text, end - text);
      mInLine = true;
      break;
    }
    write(text, lf + 1 - text);
    text = lf + 1;
  }
  setp(pbase(), epptr());
  return 0;
}

LogFileStreamBuf::int_type LogFileStreamBuf::overflow(int_type c) {
  sync();
  if (traits_type::eq_int_type(c, traits_type::eof())) return 0;
  *pptr() = traits_type::to_char_type(c);
  pbump(1);
  return c;
}
