// Finds the first reason why a value is not valid and writes it as a path
// (".field", "[index]" per level) followed by a message.
#pragma once

#include <iosfwd>
#include <sstream>
#include <string>

#include "asn1/visitor.h"

namespace ASN1 {

class InvalidTracer : public ConstVisitor {
 public:
  InvalidTracer() {}

  // What the visit wrote: empty for a value that passed.
  std::string text() const { return strm_.str(); }

  bool do_visit(const INTEGER& v) override;
  bool do_visit(const ENUMERATED& v) override;
  bool do_visit(const OBJECT_IDENTIFIER& v) override;
  bool do_visit(const BIT_STRING& v) override;
  bool do_visit(const OCTET_STRING& v) override;
  bool do_visit(const AbstractString& v) override;
  bool do_visit(const BMPString& v) override;
  bool do_visit(const CHOICE& v) override;
  bool do_visit(const OpenData& v) override;
  bool do_visit(const GeneralizedTime& v) override;
  bool do_visit(const SEQUENCE_OF_Base& v) override;
  bool visitExtensionRoot(const SEQUENCE& seq, int index) override;
  bool visitKnownExtension(const SEQUENCE& seq, int index) override;

 private:
  // The size messages shared by the string and list kinds.
  bool sizeCheck(const char* what, unsigned long long n, int32_t lower, uint32_t upper, uint32_t kind);
  bool field(const SEQUENCE& seq, int index);

  std::stringstream strm_;
};

// Traces value; when it is not valid, writes header, the trace and an end of
// line to out and answers false. A valid value writes nothing.
bool trace_invalid(std::ostream& out, const char* header, const AbstractData& value);

}  // namespace ASN1
