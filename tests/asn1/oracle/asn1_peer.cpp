// Our side of the PER and BER cross-check with Erlang (crosscheck.py drives
// it) and of the BER check with unber (unber_check.py).
//
//   asn1-peer per|uper|ber gen MODULE TYPE COUNT SEED
//       COUNT random values of MODULE.TYPE, one encoding per line (hex).
//   asn1-peer per|uper|ber recode MODULE TYPE
//       Per line of hex on stdin: decode, encode again and print the hex, or
//       "error decode" / "error encode".
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <iostream>
#include <memory>
#include <string>
#include <vector>

#include "asn1/asn1.h"
#include "asn1/modules/korvend_asn1_modules_registry.h"
#include "tests/asn1/random_value.h"

namespace {

// The protocol module of that name, null when there is none.
const ASN1::Module* find_module(const char* name) {
  for (const ASN1::Module* const* m = korvend_asn1_modules_registry; *m; ++m) {
    if (std::strcmp((*m)->name(), name) == 0) return *m;
  }
  return nullptr;
}

std::string to_hex(const std::vector<char>& octets) {
  static const char digits[] = "0123456789abcdef";
  std::string out;
  for (char c : octets) {
    out += digits[(unsigned char)c >> 4];
    out += digits[(unsigned char)c & 15];
  }
  return out;
}

bool from_hex(const std::string& text, std::vector<char>& out) {
  out.clear();
  int high = -1;
  for (char c : text) {
    int d;
    if (c >= '0' && c <= '9') d = c - '0';
    else if (c >= 'a' && c <= 'f') d = c - 'a' + 10;
    else if (c >= 'A' && c <= 'F') d = c - 'A' + 10;
    else if (c == ' ' || c == '\r' || c == '\t') continue;
    else return false;
    if (high < 0) {
      high = d;
    } else {
      out.push_back(char(high << 4 | d));
      high = -1;
    }
  }
  return high < 0;
}

int usage() {
  std::fprintf(stderr, "usage: asn1-peer per|uper|ber gen MODULE TYPE COUNT SEED\n"
                       "       asn1-peer per|uper|ber recode MODULE TYPE\n");
  return 2;
}

}  // namespace

int main(int argc, char** argv) {
  if (argc < 5) return usage();
  std::string rule = argv[1], command = argv[2];
  if (rule != "per" && rule != "uper" && rule != "ber") return usage();
  ASN1::CoderEnv env(rule == "per"    ? ASN1::CoderEnv::per_Aligned
                     : rule == "uper" ? ASN1::CoderEnv::per_Unaligned
                                      : ASN1::CoderEnv::ber);
  const ASN1::Module* module = find_module(argv[3]);
  if (!module || !module->find(argv[4])) {
    std::fprintf(stderr, "asn1-peer: no type %s.%s\n", argv[3], argv[4]);
    return 2;
  }
  const char* type = argv[4];

  if (command == "gen" && argc == 7) {
    unsigned long count = std::strtoul(argv[5], nullptr, 10);
    asn1test::RandomFiller filler(uint32_t(std::strtoul(argv[6], nullptr, 10)));
    std::vector<char> octets;
    for (unsigned long i = 0; i < count; ++i) {
      std::unique_ptr<ASN1::AbstractData> value(module->create(type));
      if (!value->accept(filler) || !env.encodeInto(*value, octets)) {
        std::fprintf(stderr, "asn1-peer: cannot encode %s\n", value->asValueNotation().c_str());
        return 1;
      }
      std::printf("%s\n", to_hex(octets).c_str());
    }
    return 0;
  }
  if (command == "recode" && argc == 5) {
    std::string line;
    std::vector<char> in, out;
    while (std::getline(std::cin, line)) {
      if (line.empty()) continue;
      std::unique_ptr<ASN1::AbstractData> value(module->create(type));
      if (!from_hex(line, in) || !env.decode(in.data(), in.data() + in.size(), *value)) {
        std::printf("error decode\n");
      } else if (!env.encodeInto(*value, out)) {
        std::printf("error encode\n");
      } else {
        std::printf("%s\n", to_hex(out).c_str());
      }
    }
    return 0;
  }
  return usage();
}
