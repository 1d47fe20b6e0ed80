// asn1-codec over the test modules, for the command-line test.
#include <iostream>

#include "tests/asn1/korvend_asn1_testmodules_registry.h"
#include "tools/asn1-codec/codec.h"

int main(int argc, char** argv) {
  return asn1codec::run(argc, argv, korvend_asn1_testmodules_registry, std::cin, std::cout, std::cerr);
}
