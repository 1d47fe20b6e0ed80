#include "asn1/generalized_time.h"

#include <cstdio>
#include <cstdlib>
#include <cstring>

#include "asn1/visitor.h"

namespace ASN1 {

const TypeInfo GeneralizedTime::theInfo = {&GeneralizedTime::create, 24, &GeneralizedTime::make_copy};

GeneralizedTime::GeneralizedTime(const void* info)
    : AbstractData(info), year(1), month(1), day(1), hour(0), minute(0), second(0), millisec(0), mindiff(0), utc(false) {}

GeneralizedTime::GeneralizedTime(const char* text) : GeneralizedTime(&theInfo) { set(text); }

GeneralizedTime::GeneralizedTime(int y, int mo, int d, int h, int mi, int s, int ms, int md, bool u)
    : AbstractData(&theInfo), year(y), month(mo), day(d), hour(h), minute(mi), second(s), millisec(ms), mindiff(md), utc(u) {}

GeneralizedTime& GeneralizedTime::operator=(const GeneralizedTime& o) {
  year = o.year;
  month = o.month;
  day = o.day;
  hour = o.hour;
  minute = o.minute;
  second = o.second;
  millisec = o.millisec;
  mindiff = o.mindiff;
  utc = o.utc;
  return *this;
}

void GeneralizedTime::swap(GeneralizedTime& o) {
  GeneralizedTime tmp(o);
  o = *this;
  *this = tmp;
}

std::string GeneralizedTime::get() const {
  char buf[64];
  int n = std::snprintf(buf, sizeof buf, "%04d%02d%02d%02d%02d%02d", year, month, day, hour, minute, second);
  if (millisec) n += std::snprintf(buf + n, sizeof buf - size_t(n), ".%03d", millisec);
  if (utc) {
    std::snprintf(buf + n, sizeof buf - size_t(n), "Z");
  } else if (mindiff) {
    int a = mindiff < 0 ? -mindiff : mindiff;
    std::snprintf(buf + n, sizeof buf - size_t(n), "%c%02d%02d", mindiff < 0 ? '-' : '+', a / 60, a % 60);
  }
  return buf;
}

static bool digits(const char* p, int n, int& out) {
  int v = 0;
  for (int i = 0; i < n; ++i) {
    if (p[i] < '0' || p[i] > '9') return false;
    v = v * 10 + (p[i] - '0');
  }
  out = v;
  return true;
}

bool GeneralizedTime::set(const char* text) {
  size_t len = std::strlen(text);
  if (len < 14) return false;
  int f[6];
  static const int width[6] = {4, 2, 2, 2, 2, 2};
  const char* p = text;
  for (int i = 0; i < 6; ++i) {
    if (!digits(p, width[i], f[i])) return false;
    p += width[i];
  }
  year = f[0];
  month = f[1];
  day = f[2];
  hour = f[3];
  minute = f[4];
  second = f[5];
  if (len > 14 && text[14] == '.') {
    // The fraction of a second, truncated to milliseconds.
    int ms = 0, scale = 100;
    for (size_t i = 15; i < len && text[i] >= '0' && text[i] <= '9'; ++i) {
      ms += (text[i] - '0') * scale;
      scale /= 10;
    }
    millisec = ms;
  }
  if (text[len - 1] == 'Z') {
    utc = true;
  } else if (len >= 19 && (text[len - 5] == '+' || text[len - 5] == '-')) {
    int h, m;
    if (digits(text + len - 4, 2, h) && digits(text + len - 2, 2, m)) {
      mindiff = (h * 60 + m) * (text[len - 5] == '-' ? -1 : 1);
    }
  }
  return true;
}

time_t GeneralizedTime::get_time_t() const {
  struct tm t;
  std::memset(&t, 0, sizeof t);
  t.tm_year = year - 1900;
  t.tm_mon = month - 1;
  t.tm_mday = day;
  t.tm_hour = hour;
  t.tm_min = minute;
  t.tm_sec = second;
  return timegm(&t);
}

void GeneralizedTime::set_time_t(time_t v) {
  struct tm t;
  gmtime_r(&v, &t);
  year = t.tm_year + 1900;
  month = t.tm_mon + 1;
  day = t.tm_mday;
  hour = t.tm_hour;
  minute = t.tm_min;
  second = t.tm_sec;
}

bool GeneralizedTime::isStrictlyValid() const {
  return year >= 1 && month >= 1 && month <= 12 && day >= 1 && day <= 31 && hour >= 0 && hour <= 24 &&
         minute >= 0 && minute <= 59 && second >= 0 && second <= 59 && mindiff >= -720 && mindiff <= 720;
}

int GeneralizedTime::do_compare(const AbstractData& other) const {
  const GeneralizedTime& o = static_cast<const GeneralizedTime&>(other);
  const int a[7] = {year, month, day, hour, minute, second, millisec};
  const int b[7] = {o.year, o.month, o.day, o.hour, o.minute, o.second, o.millisec};
  for (int i = 0; i < 7; ++i) {
    if (a[i] != b[i]) return compare3(a[i], b[i]);
  }
  if (utc != o.utc) return int(utc) - int(o.utc);
  // A local time's offset from UTC is part of it; a UTC time has none.
  return utc ? 0 : compare3(mindiff, o.mindiff);
}
bool GeneralizedTime::do_accept(Visitor& v) { return v.do_visit(*this); }
bool GeneralizedTime::do_accept(ConstVisitor& v) const { return v.do_visit(*this); }

}  // namespace ASN1
