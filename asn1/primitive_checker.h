// Whether a value's BER encoding is primitive (true) or constructed
// (false): the constructed bit of its identifier octet.
#pragma once

#include "asn1/visitor.h"

namespace ASN1 {

class PrimitiveChecker : public ConstVisitor {
 public:
  // Every other kind is primitive through the catch-all.
  bool do_visit(const CHOICE& v) override;
  bool do_visit(const OpenData& v) override;
  bool do_visit(const SEQUENCE_OF_Base& v) override;
  bool preVisitExtensionRoots(const SEQUENCE& seq) override;
};

}  // namespace ASN1
