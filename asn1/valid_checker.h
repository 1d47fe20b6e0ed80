// The two validity checkers behind AbstractData::isValid() and
// isStrictlyValid(). A valid value is one that a peer knowing the type's
// extensions accepts; a strictly valid one keeps to the root of every type.
// Each component is judged by its own isValid() or isStrictlyValid(), so
// every level of a value runs a checker of its own.
#pragma once

#include "asn1/visitor.h"

namespace ASN1 {

class ConstrainedObject;

class ValidChecker : public ConstVisitor {
 public:
  ValidChecker() : strict_(false) {}

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

  // The value of an INTEGER against its range, as the constraint reads it:
  // no bound when unconstrained, the lower bound only when partially
  // constrained, otherwise both (unsigned when the lower bound is 0 or
  // more, so that INTEGER (0..4294967295) holds values of 2^31 and above).
  static bool inRange(const INTEGER& v);
  // A size or length against the size constraint of its descriptor.
  static bool sizeInRoot(const ConstrainedObject& v, unsigned long long n);

 protected:
  explicit ValidChecker(bool strict) : strict_(strict) {}

 private:
  bool component(const AbstractData* v) const;
  bool sizeOk(const ConstrainedObject& v, unsigned long long n, bool upperUnlessExtendable) const;

  bool strict_;
};

class StrictlyValidChecker : public ValidChecker {
 public:
  StrictlyValidChecker() : ValidChecker(true) {}
};

}  // namespace ASN1
