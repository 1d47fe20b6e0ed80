#include "runtime/syslog_stream_buf.h"

#include <syslog.h>

#include <cstring>

#include "runtime/syslog_manager.h"

namespace {

void system_syslog(int priority, const char* line) { ::syslog(priority, "%s", line); }

void managed_syslog(int priority, const char* line) { syslogManager.syslog(priority, "%s", line); }

}  // namespace

SysLogStreamBuf::SysLogStreamBuf(int facility, int priority) : mPriority(facility + priority) { own_area(kAreaSize); }

SysLogStreamBuf::~SysLogStreamBuf() = default;

void SysLogStreamBuf::own_area(std::streamsize n) {
  std::unique_ptr<char[]> area(new char[n]);
  setp(area.get(), area.get() + n - 1);
  mOwned = std::move(area);
}

std::streambuf* SysLogStreamBuf::setbuf(char* area, std::streamsize n) {
  if (n < 2) return this;
  setp(area, area + n - 1);
  mOwned.reset();
  return this;
}

bool SysLogStreamBuf::split_lines(void (*emit)(int priority, const char* line)) {
  char* begin = pbase();
  char* end = pptr();
  *end = '\0';  // the area keeps a byte for this
  char* lf = static_cast<char*>(std::memchr(begin, '\n', end - begin));
  if (!lf) {
    if (end != epptr()) return false;
    emit(mPriority, begin);
  } else {
    char* line = begin;
    for (; lf; lf = static_cast<char*>(std::memchr(line, '\n', end - line))) {
      *lf = '\0';
      emit(mPriority, line);
      line = lf + 1;
    }
    if (line != end) emit(mPriority, line);
  }
  setp(begin, epptr());
  return true;
}

int SysLogStreamBuf::sync() {
  split_lines(system_syslog);
  return 0;
}

SysLogStreamBuf::int_type SysLogStreamBuf::overflow(int_type c) {
  sync();
  if (traits_type::eq_int_type(c, traits_type::eof())) return 0;
  if (pptr() == epptr()) return traits_type::eof();
  *pptr() = traits_type::to_char_type(c);
  pbump(1);
  return c;
}

ManagedSysLogStreamBuf::ManagedSysLogStreamBuf(int facility, int priority) : SysLogStreamBuf(facility, priority) {
  own_area(kManagedAreaSize);
}

ManagedSysLogStreamBuf::~ManagedSysLogStreamBuf() = default;

int ManagedSysLogStreamBuf::sync() {
  if (split_lines(managed_syslog)) syslogManager.sendmsg();
  return 0;
}
