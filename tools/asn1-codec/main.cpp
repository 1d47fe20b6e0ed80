// asn1-codec over the protocol modules of the daemon.
#include <iostream>

#include "asn1/modules/korvend_asn1_modules_registry.h"
#include "tools/asn1-codec/codec.h"

int main(int argc, char** argv) {
  return asn1codec::run(argc, argv, korvend_asn1_modules_registry, std::cin, std::cout, std::cerr);
}
