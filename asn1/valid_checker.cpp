#include "asn1/valid_checker.h"

#include "asn1/bit_string.h"
#include "asn1/char_string.h"
#include "asn1/choice.h"
#include "asn1/generalized_time.h"
#include "asn1/open_data.h"
#include "asn1/per_common.h"
#include "asn1/sequence.h"
#include "asn1/sequence_of.h"

namespace ASN1 {

bool AbstractData::isValid() const {
  ValidChecker checker;
  return accept(checker);
}

bool AbstractData::isStrictlyValid() const {
  StrictlyValidChecker checker;
  return accept(checker);
}

bool ValidChecker::inRange(const INTEGER& v) {
  const ConstrainedInfo* inf = v.info();
  const int64_t x = v.getWideValue();
  switch (inf->constraintType) {
    case Unconstrained:
      return true;
    case PartiallyConstrained:
      return x >= inf->lowerLimit;
    default:
      return x >= inf->lowerLimit && x <= per::upperBound(*inf);
  }
}

bool ValidChecker::sizeInRoot(const ConstrainedObject& v, unsigned long long n) {
  const ConstrainedInfo* inf = v.info();
  return n >= uint32_t(inf->lowerLimit) && n <= inf->upperLimit;
}

// Sizes: strictly, lower..upper whatever the kind; otherwise at least the
// lower bound, and the upper bound only where the constraint is not
// extensible (BIT and OCTET STRING: only where it is fixed).
bool ValidChecker::sizeOk(const ConstrainedObject& v, unsigned long long n, bool upperUnlessExtendable) const {
  if (strict_) return sizeInRoot(v, n);
  const ConstrainedInfo* inf = v.info();
  if (n < uint32_t(inf->lowerLimit)) return false;
  bool upperApplies = upperUnlessExtendable ? inf->constraintType != ExtendableConstraint
                                            : inf->constraintType == FixedConstraint;
  return !upperApplies || n <= inf->upperLimit;
}

bool ValidChecker::component(const AbstractData* v) const {
  if (!v) return false;
  return strict_ ? v->isStrictlyValid() : v->isValid();
}

bool ValidChecker::do_visit(const INTEGER& v) {
  return inRange(v) || (!strict_ && v.constraintType() == ExtendableConstraint);
}

bool ValidChecker::do_visit(const ENUMERATED& v) { return v.isStrictlyValid() || (!strict_ && v.extendable()); }

bool ValidChecker::do_visit(const OBJECT_IDENTIFIER& v) { return v.levels() > 0; }

bool ValidChecker::do_visit(const BIT_STRING& v) { return sizeOk(v, v.size(), false); }

bool ValidChecker::do_visit(const OCTET_STRING& v) { return sizeOk(v, v.size(), false); }

bool ValidChecker::do_visit(const AbstractString& v) {
  if (!sizeOk(v, v.size(), true)) return false;
  if (v.info()->characterSetSize == 0) return true;
  for (char c : v.str()) {
    if (v.alphabetIndex(static_cast<unsigned char>(c)) < 0) return false;
  }
  return true;
}

bool ValidChecker::do_visit(const BMPString& v) {
  return sizeOk(v, v.size(), true) && v.first_illegal_at() == v.size();
}

bool ValidChecker::do_visit(const CHOICE& v) {
  const ChoiceInfo* inf = v.info();
  const int sel = v.getSelection();
  if (sel < 0) return false;
  const uint32_t limit = strict_ || !inf->extendable ? inf->rootCount : inf->totalCount;
  return uint32_t(sel) < limit && component(v.getSelectedValue());
}

bool ValidChecker::do_visit(const OpenData& v) {
  if (v.has_data()) return component(&v.get_data());
  return v.has_buf();
}

bool ValidChecker::do_visit(const GeneralizedTime& v) { return v.isStrictlyValid(); }

bool ValidChecker::do_visit(const SEQUENCE_OF_Base& v) {
  if (!sizeOk(v, v.size(), true)) return false;
  for (const AbstractData* e : v.elements()) {
    if (!component(e)) return false;
  }
  return true;
}

bool ValidChecker::visitExtensionRoot(const SEQUENCE& seq, int index) {
  return component(seq.getField(unsigned(index)));
}

bool ValidChecker::visitKnownExtension(const SEQUENCE& seq, int index) {
  return component(seq.getField(unsigned(index)));
}

}  // namespace ASN1
