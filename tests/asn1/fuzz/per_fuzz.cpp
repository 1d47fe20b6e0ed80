// PER decoder, both variants, on hostile input: whatever decodes prints,
// and, when its values lie within their constraints, encodes and decodes
// again to an equal value.
#include <cstdlib>
#include <memory>
#include <vector>

#include "asn1/asn1.h"
#include "tests/asn1/fuzz/fuzz_types.h"

namespace {

void check(const void* info, const char* first, const char* last, uint32_t rule) {
  std::unique_ptr<ASN1::AbstractData> value(ASN1::typeInfo(info)->create(info));
  ASN1::CoderEnv env(rule);
  if (!ASN1::decode(first, last, &env, *value)) return;
  (void)value->asValueNotation();
  std::vector<char> again;
  if (!env.encodeInto(*value, again)) return;
  std::unique_ptr<ASN1::AbstractData> back(value->clone());
  std::unique_ptr<ASN1::AbstractData> fresh(ASN1::typeInfo(info)->create(info));
  if (!ASN1::decode(again.data(), again.data() + again.size(), &env, *fresh)) std::abort();
  if (fresh->compare(*value) != 0 || back->compare(*value) != 0) std::abort();
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  std::unique_ptr<ASN1::AbstractData> type(asn1fuzz::pickType(data, size));
  if (!type) return 0;
  const char* first = reinterpret_cast<const char*>(data);
  check(type->getInfo(), first, first + size, ASN1::CoderEnv::per_Aligned);
  check(type->getInfo(), first, first + size, ASN1::CoderEnv::per_Unaligned);
  return 0;
}
