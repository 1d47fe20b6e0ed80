#include "asn1/invalid_tracer.h"

#include <ostream>

#include "asn1/bit_string.h"
#include "asn1/char_string.h"
#include "asn1/choice.h"
#include "asn1/generalized_time.h"
#include "asn1/open_data.h"
#include "asn1/per_common.h"
#include "asn1/sequence.h"
#include "asn1/sequence_of.h"

namespace ASN1 {

bool trace_invalid(std::ostream& out, const char* header, const AbstractData& value) {
  InvalidTracer tracer;
  if (value.accept(tracer)) return true;
  out << header << tracer.text() << std::endl;
  return false;
}

// An unconstrained INTEGER has no bound to break; a partially constrained
// one only its lower bound.
bool InvalidTracer::do_visit(const INTEGER& v) {
  const ConstrainedInfo* inf = v.info();
  if (inf->constraintType == Unconstrained) return true;
  const int64_t x = v.getWideValue();
  if (x < inf->lowerLimit) {
    strm_ << " The INTEGER value " << x << " is smaller than lower bound " << inf->lowerLimit;
    return false;
  }
  const int64_t upper = per::upperBound(*inf);
  if (inf->constraintType == FixedConstraint && x > upper) {
    strm_ << " The INTEGER value " << x << " is greater than upper bound " << upper;
    return false;
  }
  return true;
}

// Reported whether or not the type is extensible: the value is outside the
// root either way.
bool InvalidTracer::do_visit(const ENUMERATED& v) {
  if (v.isStrictlyValid()) return true;
  strm_ << " This ENUMERATED has invalid value " << v.getValue();
  return false;
}

bool InvalidTracer::do_visit(const OBJECT_IDENTIFIER& v) {
  if (v.levels() > 0) return true;
  strm_ << " This OBJECT IDENTIFIER is not assigned";
  return false;
}

bool InvalidTracer::sizeCheck(const char* what, unsigned long long n, int32_t lower, uint32_t upper, uint32_t kind) {
  if (n < uint32_t(lower)) {
    strm_ << " This " << what << " has size " << n << " smaller than its lower bound " << lower;
    return false;
  }
  if (kind == FixedConstraint && n > upper) {
    strm_ << " This " << what << " has size " << n << " greater than its upper bound " << upper;
    return false;
  }
  return true;
}

bool InvalidTracer::do_visit(const BIT_STRING& v) {
  const ConstrainedInfo* inf = v.info();
  return sizeCheck("BIT STRING", v.size(), inf->lowerLimit, inf->upperLimit, inf->constraintType);
}

bool InvalidTracer::do_visit(const OCTET_STRING& v) {
  const ConstrainedInfo* inf = v.info();
  return sizeCheck("OCTET STRING", v.size(), inf->lowerLimit, inf->upperLimit, inf->constraintType);
}

bool InvalidTracer::do_visit(const AbstractString& v) {
  const AbstractStringInfo* inf = v.info();
  if (!sizeCheck("AbstractString", v.size(), inf->lowerLimit, inf->upperLimit, inf->constraintType)) return false;
  if (inf->characterSetSize == 0) return true;
  for (char c : v.str()) {
    if (v.alphabetIndex(static_cast<unsigned char>(c)) < 0) {
      strm_ << " The character '" << c << "' is not valid for the string";
      return false;
    }
  }
  return true;
}

bool InvalidTracer::do_visit(const BMPString& v) {
  const BMPStringInfo* inf = v.info();
  if (!sizeCheck("BMPString", v.size(), inf->lowerLimit, inf->upperLimit, inf->constraintType)) return false;
  std::size_t at = v.first_illegal_at();
  if (at == v.size()) return true;
  strm_ << " The character '" << uint32_t(v[at]) << "' is not valid for the string";
  return false;
}

// The selected value is traced into this buffer, after its name: its answer
// is the CHOICE's. An extension alternative that has a value passes.
bool InvalidTracer::do_visit(const CHOICE& v) {
  const int sel = v.getSelection();
  if (sel == CHOICE::unselected_) {
    strm_ << " This CHOICE is not selected";
    return false;
  }
  const char* name = v.getSelectionName();
  if (sel < 0 || !name) {
    strm_ << " This selection is not understood by this decoder";
    return false;
  }
  strm_ << '.' << name;
  if (!v.getSelectedValue()) {
    strm_ << " This CHOICE is not selected";
    return false;
  }
  return v.getSelectedValue()->accept(*this);
}

bool InvalidTracer::do_visit(const OpenData& v) {
  if (v.has_data()) return v.get_data().accept(*this);
  if (v.has_buf()) return true;
  strm_ << " This Open Type does not contain any valid data";
  return false;
}

bool InvalidTracer::do_visit(const GeneralizedTime& v) {
  if (v.isStrictlyValid()) return true;
  strm_ << " This GeneralizedTime is not valid";
  return false;
}

bool InvalidTracer::do_visit(const SEQUENCE_OF_Base& v) {
  const SequenceOfInfo* inf = v.info();
  if (!sizeCheck("SEQUENCE OF", v.size(), inf->lowerLimit, inf->upperLimit, inf->constraintType)) return false;
  for (unsigned i = 0; i < v.size(); ++i) {
    InvalidTracer element;
    if (v.at(i) && v.at(i)->accept(element)) continue;
    strm_ << '[' << i << ']' << element.text();
    return false;
  }
  return true;
}

bool InvalidTracer::field(const SEQUENCE& seq, int index) {
  const AbstractData* f = seq.getField(unsigned(index));
  InvalidTracer component;
  if (f && f->accept(component)) return true;
  const char* const* names = seq.info()->fieldNames;
  strm_ << '.' << (names ? names[index] : "") << component.text();
  return false;
}

bool InvalidTracer::visitExtensionRoot(const SEQUENCE& seq, int index) { return field(seq, index); }

bool InvalidTracer::visitKnownExtension(const SEQUENCE& seq, int index) { return field(seq, index); }

}  // namespace ASN1
