// Fills any value with random contents that its constraints allow, so that
// every type of a module can be round-tripped without writing each value.
#pragma once

#include <cstdint>
#include <random>

#include "asn1/asn1.h"

namespace asn1test {

class RandomFiller : public ASN1::Visitor {
 public:
  explicit RandomFiller(uint32_t seed, int maxDepth = 12) : rng_(seed), depth_(0), maxDepth_(maxDepth) {}

  bool do_visit(ASN1::Null&) override { return true; }
  bool do_visit(ASN1::BOOLEAN& v) override {
    v.setValue(pick(0, 1) != 0);
    return true;
  }
  bool do_visit(ASN1::INTEGER& v) override {
    const ASN1::ConstrainedInfo* inf = v.info();
    int64_t lo = inf->lowerLimit;
    int64_t hi = inf->lowerLimit < 0 ? int64_t(int32_t(inf->upperLimit)) : int64_t(inf->upperLimit);
    if (inf->constraintType == ASN1::Unconstrained) {
      lo = INT32_MIN;
      hi = INT32_MAX;
    }
    // Edges are where coders go wrong.
    int64_t x;
    switch (pick(0, 3)) {
      case 0:
        x = lo;
        break;
      case 1:
        x = hi;
        break;
      case 2:
        x = lo + pick64(0, std::min<int64_t>(hi - lo, 300));
        break;
      default:
        x = lo + pick64(0, hi - lo);
    }
    v.setValue(int(int32_t(uint32_t(uint64_t(x)))));
    return true;
  }
  bool do_visit(ASN1::ENUMERATED& v) override {
    const ASN1::EnumeratedInfo* inf = v.info();
    // Root values only: extension values of an enumeration are coded by value too.
    for (;;) {
      const ASN1::NamedValue& nv = inf->names[pick(0, int(inf->nameCount) - 1)];
      if (nv.value >= 0 && nv.value <= inf->maxValue) {
        v.setValue(nv.value);
        return true;
      }
      if (inf->maxValue < 0) return false;
    }
  }
  bool do_visit(ASN1::OBJECT_IDENTIFIER& v) override {
    v.arcs().clear();
    v.arcs().push_back(uint32_t(pick(0, 2)));
    v.arcs().push_back(uint32_t(pick(0, 39)));
    int n = pick(0, 4);
    for (int i = 0; i < n; ++i) v.arcs().push_back(uint32_t(pick64(0, 0xFFFFFFFFll)));
    return true;
  }
  bool do_visit(ASN1::OCTET_STRING& v) override {
    unsigned n = size(v);
    v.resize(n);
    for (unsigned i = 0; i < n; ++i) v[i] = char(pick(0, 255));
    return true;
  }
  bool do_visit(ASN1::BIT_STRING& v) override {
    unsigned n = size(v);
    v.resize(n);
    for (unsigned i = 0; i < n; ++i) v.setBit(i, pick(0, 1) != 0);
    return true;
  }
  bool do_visit(ASN1::AbstractString& v) override {
    const ASN1::AbstractStringInfo* inf = v.info();
    unsigned n = size(v);
    v.resize(n);
    for (unsigned i = 0; i < n; ++i) {
      char c = inf->characterSet[pick(0, int(inf->characterSetSize) - 1)];
      v[i] = c;
    }
    return true;
  }
  bool do_visit(ASN1::BMPString& v) override {
    unsigned n = size(v);
    v.resize(n);
    for (unsigned i = 0; i < n; ++i) v[i] = wchar_t(pick(32, 126));
    return true;
  }
  bool do_visit(ASN1::CHOICE& v) override {
    const ASN1::ChoiceInfo* inf = v.info();
    if (inf->totalCount == 0) return false;
    if (!v.select(pick(0, int(inf->totalCount) - 1))) return false;
    return nested(*v.getSelectedValue());
  }
  bool do_visit(ASN1::SEQUENCE_OF_Base& v) override {
    unsigned n = size(v, depth_ > maxDepth_ / 2 ? 2 : 5, false);
    v.clear();
    for (unsigned i = 0; i < n; ++i) {
      if (!nested(*v.append())) return false;
    }
    return true;
  }
  bool do_visit(ASN1::OpenData&) override { return false; }
  bool do_revisit(ASN1::OpenData&) override { return false; }
  bool do_visit(ASN1::TypeConstrainedOpenData& v) override { return v.has_data() && nested(v.get_data()); }
  bool do_visit(ASN1::GeneralizedTime& v) override {
    v = ASN1::GeneralizedTime(pick(1990, 2030), pick(1, 12), pick(1, 28), pick(0, 23), pick(0, 59), pick(0, 59),
                              pick(0, 999), 0, pick(0, 1) != 0);
    return true;
  }
  int visitExtensionRoot(ASN1::SEQUENCE& seq, int index, int optionalId) override {
    if (optionalId >= 0) {
      if (pick(0, 2) == 0) {
        seq.removeOptionalField(unsigned(optionalId));
        return CONTINUE;
      }
      seq.includeOptionalField(unsigned(optionalId), unsigned(index));
    }
    return nested(seq.field(unsigned(index))) ? CONTINUE : FAIL;
  }
  int visitKnownExtension(ASN1::SEQUENCE& seq, int index, int optionalId) override {
    if (pick(0, 2) == 0) return CONTINUE;
    seq.includeOptionalField(unsigned(optionalId), unsigned(index));
    return nested(seq.field(unsigned(index))) ? CONTINUE : FAIL;
  }

  int pick(int lo, int hi) { return std::uniform_int_distribution<int>(lo, hi)(rng_); }
  int64_t pick64(int64_t lo, int64_t hi) { return std::uniform_int_distribution<int64_t>(lo, hi)(rng_); }

 private:
  bool nested(ASN1::AbstractData& v) {
    ++depth_;
    bool ok = v.accept(*this);
    --depth_;
    return ok;
  }
  // A size the constraint allows, kept small.
  unsigned size(const ASN1::ConstrainedObject& v, unsigned smallMax = 20, bool allowLong = true) {
    const ASN1::ConstrainedInfo* inf = v.info();
    if (inf->constraintType == ASN1::FixedConstraint || inf->constraintType == ASN1::ExtendableConstraint) {
      int64_t hi = std::min<int64_t>(inf->upperLimit, int64_t(inf->lowerLimit) + smallMax);
      return unsigned(pick64(inf->lowerLimit, hi));
    }
    return unsigned(pick(0, allowLong && pick(0, 3) == 0 ? 300 : int(smallMax)));
  }

  std::mt19937 rng_;
  int depth_;
  int maxDepth_;
};

// A new value of the descriptor's type filled at random.
inline ASN1::AbstractData* randomValue(const void* info, uint32_t seed) {
  ASN1::AbstractData* v = ASN1::typeInfo(info)->create(info);
  RandomFiller f(seed);
  v->accept(f);
  return v;
}

}  // namespace asn1test
