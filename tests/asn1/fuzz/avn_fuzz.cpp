// Value-notation reader on hostile text: whatever reads prints again and
// reads back to an equal value.
#include <cstdlib>
#include <memory>
#include <sstream>
#include <string>
#include <vector>

#include "asn1/asn1.h"
#include "tests/asn1/fuzz/fuzz_types.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  std::unique_ptr<ASN1::AbstractData> value(asn1fuzz::pickType(data, size));
  if (!value) return 0;
  std::string text(reinterpret_cast<const char*>(data), size);
  if (!value->setFromValueNotation(text)) return 0;
  std::ostringstream os;
  if (value->print_on(os) != 0) return 0;  // e.g. a CHOICE left unselected by an early "}"
  const std::string printed = os.str();
  std::unique_ptr<ASN1::AbstractData> back(ASN1::typeInfo(value->getInfo())->create(value->getInfo()));
  if (!back->setFromValueNotation(printed)) std::abort();
  if (back->compare(*value) != 0) std::abort();
  std::vector<char> octets;
  ASN1::CoderEnv env;
  (void)env.encodeInto(*value, octets);
  return 0;
}
