// asn1-codec: encodes and decodes any type of the built modules, hex to
// value notation and back. The logic is a library so that tests can run
// it over their own modules.
#pragma once

#include <iosfwd>

#include "asn1/module.h"

namespace asn1codec {

// modules: null-terminated list. Returns the process exit code.
int run(int argc, char** argv, const ASN1::Module* const* modules, std::istream& in, std::ostream& out,
        std::ostream& err);

}  // namespace asn1codec
