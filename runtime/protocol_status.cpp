#include "runtime/protocol_status.h"

#include <ostream>

void Internal_protocol_status::out(std::ostream& os) const { os << text_; }
