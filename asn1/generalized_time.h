// GeneralizedTime: calendar fields and their text form.
#pragma once

#include <ctime>
#include <string>

#include "asn1/scalar.h"

namespace ASN1 {

class GeneralizedTime : public AbstractData, public detail::Allocator<GeneralizedTime> {
  ASN1_VALUE_CLASS_MEMBERS(GeneralizedTime)
  static const TypeInfo theInfo;
  explicit GeneralizedTime(const void* info = &theInfo);
  explicit GeneralizedTime(const char* text);
  GeneralizedTime(int year, int month, int day, int hour, int minute, int second, int millisec = 0,
                  int mindiff = 0, bool utc = false);
  GeneralizedTime(const GeneralizedTime& o) = default;
  GeneralizedTime& operator=(const GeneralizedTime& o);
  void swap(GeneralizedTime& o);

  // "YYYYMMDDHHMMSS[.fff][Z|+hhmm|-hhmm]"
  std::string get() const;
  // Reads the text; fields it does not give keep their values. False when
  // the text is shorter than the fourteen digits of date and time.
  bool set(const char* text);
  // The value of the text alone: the fields it does not give take their
  // initial values (how the decoders read a time).
  bool setAfresh(const char* text) {
    *this = GeneralizedTime(getInfo());
    return set(text);
  }
  // Both read the fields as UTC.
  time_t get_time_t() const;
  void set_time_t(time_t t);
  bool isStrictlyValid() const;

  int getYear() const { return year; }
  int getMonth() const { return month; }
  int getDay() const { return day; }
  int getHour() const { return hour; }
  int getMinute() const { return minute; }
  int getSecond() const { return second; }
  int getMillisec() const { return millisec; }
  int getMinDiff() const { return mindiff; }
  bool getUTC() const { return utc; }

 private:
  int year, month, day, hour, minute, second, millisec, mindiff;
  bool utc;
};

}  // namespace ASN1
