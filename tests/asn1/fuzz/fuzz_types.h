// The types a fuzz input may name: every type of the protocol modules and
// of the test modules. The first two input octets pick one.
#pragma once

#include <cstddef>
#include <cstdint>
#include <vector>

#include "asn1/module.h"
#include "asn1/modules/korvend_asn1_modules_registry.h"
#include "tests/asn1/korvend_asn1_testmodules_registry.h"

namespace asn1fuzz {

struct FuzzType {
  const ASN1::Module* module;
  uint32_t index;
};

inline const std::vector<FuzzType>& fuzzTypes() {
  static const std::vector<FuzzType> types = [] {
    std::vector<FuzzType> t;
    for (const ASN1::Module* const* list : {korvend_asn1_testmodules_registry, korvend_asn1_modules_registry}) {
      for (const ASN1::Module* const* m = list; *m; ++m) {
        for (uint32_t i = 0; i < (*m)->typeCount(); ++i) t.push_back({*m, i});
      }
    }
    return t;
  }();
  return types;
}

// A new value of the type the first two octets name (there are more than
// 256 types); they are taken off the input.
inline ASN1::AbstractData* pickType(const uint8_t*& data, size_t& size) {
  const std::vector<FuzzType>& types = fuzzTypes();
  if (size < 2 || types.empty()) return nullptr;
  size_t k = (size_t(data[0]) << 8 | data[1]) % types.size();
  data += 2;
  size -= 2;
  const void* info = types[k].module->type(types[k].index).info;
  return ASN1::typeInfo(info)->create(info);
}

}  // namespace asn1fuzz
