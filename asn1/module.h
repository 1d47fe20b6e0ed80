// A generated module's table of type names and descriptors, by which tools
// reach any type of the module by name.
#pragma once

#include <cstdint>
#include <cstring>

#include "asn1/abstract_data.h"

namespace ASN1 {

struct ModuleType {
  const char* name;
  const void* info;
};

class Module {
 public:
  constexpr Module(const char* name, const ModuleType* types, uint32_t count) : name_(name), types_(types), count_(count) {}
  const char* name() const { return name_; }
  uint32_t typeCount() const { return count_; }
  const ModuleType& type(uint32_t i) const { return types_[i]; }
  // The descriptor of a type by its ASN.1 name, null when absent.
  const void* find(const char* typeName) const {
    for (uint32_t i = 0; i < count_; ++i) {
      if (std::strcmp(types_[i].name, typeName) == 0) return types_[i].info;
    }
    return nullptr;
  }
  // A new empty value of the named type (the caller owns it), or null.
  AbstractData* create(const char* typeName) const {
    const void* info = find(typeName);
    return info ? typeInfo(info)->create(info) : nullptr;
  }

 private:
  const char* name_;
  const ModuleType* types_;
  uint32_t count_;
};

}  // namespace ASN1
