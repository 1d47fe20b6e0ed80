#include "tools/asn1-codec/codec.h"

#include <cctype>
#include <cstring>
#include <iostream>
#include <iterator>
#include <memory>
#include <sstream>
#include <string>
#include <vector>

#include "asn1/asn1.h"

namespace asn1codec {

namespace {

const char usage[] =
    "usage: asn1-codec [-r RULE] encode MODULE TYPE [VALUE]\n"
    "       asn1-codec [-r RULE] decode MODULE TYPE [HEX...]\n"
    "       asn1-codec list [MODULE]\n"
    "  encode: value notation (argument or standard input) to hex octets\n"
    "  decode: hex octets (arguments or standard input) to value notation\n"
    "  RULE: aper (aligned PER, the default), uper (unaligned PER), ber (basic encoding rules),\n"
    "        avn (value notation)\n";

bool parseRule(const std::string& name, uint32_t& rule) {
  if (name == "aper") {
    rule = ASN1::CoderEnv::per_Aligned;
  } else if (name == "uper") {
    rule = ASN1::CoderEnv::per_Unaligned;
  } else if (name == "ber") {
    rule = ASN1::CoderEnv::ber;
  } else if (name == "avn") {
    rule = ASN1::CoderEnv::avn;
  } else {
    return false;
  }
  return true;
}

bool parseHex(const std::string& text, std::vector<char>& out) {
  int high = -1;
  for (char c : text) {
    if (std::isspace(static_cast<unsigned char>(c))) continue;
    int v;
    if (c >= '0' && c <= '9')
      v = c - '0';
    else if (c >= 'a' && c <= 'f')
      v = c - 'a' + 10;
    else if (c >= 'A' && c <= 'F')
      v = c - 'A' + 10;
    else
      return false;
    if (high < 0) {
      high = v;
    } else {
      out.push_back(char(high << 4 | v));
      high = -1;
    }
  }
  return high < 0;
}

std::string toHex(const std::vector<char>& octets) {
  static const char digits[] = "0123456789ABCDEF";
  std::string s;
  for (size_t i = 0; i < octets.size(); ++i) {
    if (i) s += ' ';
    s += digits[uint8_t(octets[i]) >> 4];
    s += digits[uint8_t(octets[i]) & 15];
  }
  return s;
}

std::string restOf(int argc, char** argv, int first, std::istream& in) {
  if (first < argc) {
    std::string s;
    for (int i = first; i < argc; ++i) {
      if (i > first) s += ' ';
      s += argv[i];
    }
    return s;
  }
  return std::string(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
}

}  // namespace

int run(int argc, char** argv, const ASN1::Module* const* modules, std::istream& in, std::ostream& out,
        std::ostream& err) {
  ASN1::CoderEnv env;
  for (const ASN1::Module* const* m = modules; *m; ++m) env.insert(**m);

  uint32_t rule = ASN1::CoderEnv::per_Aligned;
  int i = 1;
  if (i + 1 < argc && std::strcmp(argv[i], "-r") == 0) {
    if (!parseRule(argv[i + 1], rule)) {
      err << "asn1-codec: unknown rule " << argv[i + 1] << " (aper, uper, ber or avn)\n";
      return 2;
    }
    i += 2;
  }
  if (i >= argc) {
    err << usage;
    return 2;
  }
  std::string command = argv[i++];
  if (command == "list") {
    if (i < argc) {
      const ASN1::Module* m = env.find(argv[i]);
      if (!m) {
        err << "asn1-codec: no module " << argv[i] << "\n";
        return 1;
      }
      for (uint32_t k = 0; k < m->typeCount(); ++k) out << m->type(k).name << "\n";
    } else {
      for (const auto& entry : env.modules()) out << entry.first << "\n";
    }
    return 0;
  }
  if ((command != "encode" && command != "decode") || i + 2 > argc) {
    err << usage;
    return 2;
  }
  const ASN1::Module* module = env.find(argv[i]);
  if (!module) {
    err << "asn1-codec: no module " << argv[i] << "\n";
    return 1;
  }
  std::unique_ptr<ASN1::AbstractData> value(module->create(argv[i + 1]));
  if (!value) {
    err << "asn1-codec: no type " << argv[i + 1] << " in module " << argv[i] << "\n";
    return 1;
  }
  std::string input = restOf(argc, argv, i + 2, in);
  env.set_encodingRule(rule);

  if (command == "encode") {
    if (!value->setFromValueNotation(input)) {
      err << "asn1-codec: not a value of " << argv[i] << "." << argv[i + 1] << "\n";
      return 1;
    }
    std::vector<char> octets;
    if (!env.encodeInto(*value, octets)) {
      err << "asn1-codec: the value does not encode\n";
      return 1;
    }
    if (rule == ASN1::CoderEnv::avn)
      out << std::string(octets.begin(), octets.end()) << "\n";
    else
      out << toHex(octets) << "\n";
    return 0;
  }

  bool ok;
  if (rule == ASN1::CoderEnv::avn) {
    ok = ASN1::decode(input.data(), input.data() + input.size(), &env, *value);
  } else {
    std::vector<char> octets;
    if (!parseHex(input, octets)) {
      err << "asn1-codec: the input is not hex octets\n";
      return 1;
    }
    ok = ASN1::decode(octets.data(), octets.data() + octets.size(), &env, *value);
  }
  if (!ok) {
    err << "asn1-codec: does not decode as " << argv[i] << "." << argv[i + 1] << "\n";
    return 1;
  }
  out << *value << "\n";
  return 0;
}

}  // namespace asn1codec
