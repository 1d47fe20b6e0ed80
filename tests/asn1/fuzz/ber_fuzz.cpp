// BER decoder on hostile input: whatever decodes prints, encodes, and
// decodes again to an equal value; nothing reads past the input or sizes a
// buffer from a length the input does not back.
#include <cstdlib>
#include <memory>
#include <vector>

#include "asn1/asn1.h"
#include "tests/asn1/fuzz/fuzz_types.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  std::unique_ptr<ASN1::AbstractData> value(asn1fuzz::pickType(data, size));
  if (!value) return 0;
  ASN1::CoderEnv env(ASN1::CoderEnv::ber);
  const char* first = reinterpret_cast<const char*>(data);
  if (!ASN1::decode(first, first + size, &env, *value)) return 0;
  (void)value->asValueNotation();
  (void)value->isValid();
  std::vector<char> again;
  if (!env.encodeInto(*value, again)) std::abort();
  std::unique_ptr<ASN1::AbstractData> fresh(ASN1::typeInfo(value->getInfo())->create(value->getInfo()));
  if (!ASN1::decode(again.data(), again.data() + again.size(), &env, *fresh)) std::abort();
  if (fresh->compare(*value) != 0) std::abort();
  // The re-encoding is the encoder's own form: it comes back unchanged.
  std::vector<char> third;
  if (!env.encodeInto(*fresh, third) || third != again) std::abort();
  return 0;
}
