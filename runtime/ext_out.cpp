#include "runtime/ext_out.h"

#include <iomanip>

namespace ext {

void OutBufInHex::Put(std::ostream& s) const {
  const std::ios_base::fmtflags flags = s.flags();
  s << std::hex << std::uppercase << std::setfill('0');
  for (const std::uint8_t* p = first_; p < end_; ++p) s << std::setw(2) << static_cast<unsigned>(*p) << ' ';
  s.flags(flags);
  s.fill(' ');
}

void OutUnsignedInHex::Put(std::ostream& s) const {
  const std::ios_base::fmtflags flags = s.flags();
  s << "0x" << std::hex << std::uppercase << std::setfill('0') << std::setw(width_) << value_;
  s.flags(flags);
  s.fill(' ');
}

}  // namespace ext
