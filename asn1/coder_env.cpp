#include "asn1/coder_env.h"

#include <sstream>

#include "asn1/avn_decoder.h"
#include "asn1/avn_encoder.h"
#include "asn1/ber_decoder.h"
#include "asn1/ber_encoder.h"
#include "asn1/per_decoder.h"
#include "asn1/per_encoder.h"

namespace ASN1 {

bool CoderEnv::encodeAppend(const AbstractData& value, std::vector<char>& buf) {
  const std::size_t mark = buf.size();
  bool ok = false;
  switch (encodingRule_) {
    case per_Aligned:
    case per_Unaligned: {
      PEREncoder encoder(buf, encodingRule_ == per_Aligned);
      ok = value.accept(encoder);
      break;
    }
    case ber: {
      BEREncoder encoder(buf);
      ok = value.accept(encoder);
      break;
    }
    case avn: {
      std::ostringstream os;
      AVNEncoder encoder(os);
      ok = value.accept(encoder);
      if (ok) {
        const std::string s = os.str();
        buf.insert(buf.end(), s.begin(), s.end());
      }
      break;
    }
    default:  // unknown rules fail
      break;
  }
  if (!ok) buf.resize(mark);
  return ok;
}

bool CoderEnv::decode(const char* first, const char* last, AbstractData& value, bool hide) {
  switch (encodingRule_) {
    case per_Aligned:
    case per_Unaligned: {
      PERDecoder decoder(first, last, hide ? nullptr : this, encodingRule_ == per_Aligned);
      return value.accept(decoder);
    }
    case ber: {
      BERDecoder decoder(first, last, hide ? nullptr : this);
      return value.accept(decoder);
    }
    case avn: {
      std::istringstream is(std::string(first, last));
      AVNDecoder decoder(is);
      return value.accept(decoder);
    }
    default:
      return false;
  }
}

}  // namespace ASN1
