#include "runtime/timestamp.h"

#include <ctime>
#include <ostream>

std::ostream& timestamp(std::ostream& s) {
  std::time_t now = std::time(nullptr);
  if (now == static_cast<std::time_t>(-1)) return s;
  struct tm local;
  if (!::localtime_r(&now, &local)) return s;
  char text[32];
  if (std::strftime(text, sizeof text, "%d/%m %H:%M:%S", &local) > 0) s << text;
  return s;
}
