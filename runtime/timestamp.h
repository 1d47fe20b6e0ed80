#pragma once
// Writes the local time as "%d/%m %H:%M:%S" (nothing when it is not known).
#include <iosfwd>

std::ostream& timestamp(std::ostream& s);
