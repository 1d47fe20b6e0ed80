#include "asn1/visitor.h"

#include "asn1/bit_string.h"
#include "asn1/char_string.h"
#include "asn1/choice.h"
#include "asn1/generalized_time.h"
#include "asn1/open_data.h"
#include "asn1/sequence.h"
#include "asn1/sequence_of.h"

namespace ASN1 {

bool Visitor::visit(AbstractData& v) { return v.accept(*this); }

bool Visitor::do_visit(IntegerWithNamedNumber& v) { return do_visit(static_cast<INTEGER&>(v)); }
int Visitor::preVisitExtensionRoots(SEQUENCE&) { return CONTINUE; }
int Visitor::visitExtensionRoot(SEQUENCE&, int, int) { return FAIL; }
int Visitor::preVisitExtensions(SEQUENCE&) { return CONTINUE; }
int Visitor::visitKnownExtension(SEQUENCE&, int, int) { return FAIL; }
bool Visitor::visitUnknownExtensions(SEQUENCE&) { return true; }

bool Visitor::visit(SEQUENCE& seq) {
  int r = preVisitExtensionRoots(seq);
  if (r == FAIL) return false;
  if (r == STOP) return true;
  const SequenceInfo* inf = seq.info();
  for (uint32_t i = 0; i < inf->rootFieldCount; ++i) {
    int a = visitExtensionRoot(seq, int(i), inf->fieldIds[i]);
    if (a < NO_EXTENSION) return a != FAIL;
  }
  if (r != CONTINUE) return true;
  int e = preVisitExtensions(seq);
  if (e != CONTINUE) return e != FAIL;
  int lastId = int(inf->optionalCount) - 1;
  for (unsigned i = inf->rootFieldCount; i < seq.fieldCount(); ++i) {
    ++lastId;
    int k = visitKnownExtension(seq, int(i), lastId);
    if (k != CONTINUE) return k != FAIL;
  }
  return visitUnknownExtensions(seq);
}

bool ConstVisitor::visit(const AbstractData& v) { return v.accept(*this); }

bool ConstVisitor::do_visit(const AbstractData&) { return true; }
bool ConstVisitor::do_visit(const Null& v) { return do_visit(static_cast<const AbstractData&>(v)); }
bool ConstVisitor::do_visit(const BOOLEAN& v) { return do_visit(static_cast<const AbstractData&>(v)); }
bool ConstVisitor::do_visit(const INTEGER& v) { return do_visit(static_cast<const AbstractData&>(v)); }
bool ConstVisitor::do_visit(const IntegerWithNamedNumber& v) { return do_visit(static_cast<const INTEGER&>(v)); }
bool ConstVisitor::do_visit(const ENUMERATED& v) { return do_visit(static_cast<const AbstractData&>(v)); }
bool ConstVisitor::do_visit(const OBJECT_IDENTIFIER& v) { return do_visit(static_cast<const AbstractData&>(v)); }
bool ConstVisitor::do_visit(const BIT_STRING& v) { return do_visit(static_cast<const AbstractData&>(v)); }
bool ConstVisitor::do_visit(const OCTET_STRING& v) { return do_visit(static_cast<const AbstractData&>(v)); }
bool ConstVisitor::do_visit(const AbstractString& v) { return do_visit(static_cast<const AbstractData&>(v)); }
bool ConstVisitor::do_visit(const BMPString& v) { return do_visit(static_cast<const AbstractData&>(v)); }
bool ConstVisitor::do_visit(const CHOICE& v) { return do_visit(static_cast<const AbstractData&>(v)); }
bool ConstVisitor::do_visit(const OpenData& v) { return do_visit(static_cast<const AbstractData&>(v)); }
bool ConstVisitor::do_visit(const GeneralizedTime& v) { return do_visit(static_cast<const AbstractData&>(v)); }
bool ConstVisitor::do_visit(const SEQUENCE_OF_Base& v) { return do_visit(static_cast<const AbstractData&>(v)); }
bool ConstVisitor::preVisitExtensionRoots(const SEQUENCE& seq) {
  return do_visit(static_cast<const AbstractData&>(seq));
}
bool ConstVisitor::visitExtensionRoot(const SEQUENCE&, int) { return false; }
bool ConstVisitor::preVisitExtensions(const SEQUENCE&) { return true; }
bool ConstVisitor::visitKnownExtension(const SEQUENCE&, int) { return false; }
bool ConstVisitor::afterVisitSequence(const SEQUENCE&) { return true; }

bool ConstVisitor::visit(const SEQUENCE& seq) {
  if (!preVisitExtensionRoots(seq)) return false;
  const SequenceInfo* inf = seq.info();
  for (uint32_t i = 0; i < inf->rootFieldCount; ++i) {
    int32_t id = inf->fieldIds[i];
    if (id >= 0 && !seq.optionalMap()[unsigned(id)]) continue;
    if (!visitExtensionRoot(seq, int(i))) return false;
  }
  if (seq.extensionMap().size() == 0) return afterVisitSequence(seq);
  if (!preVisitExtensions(seq)) return false;
  for (unsigned k = 0; k < inf->extensionCount; ++k) {
    if (seq.extensionMap()[k] && !visitKnownExtension(seq, int(inf->rootFieldCount + k))) return false;
  }
  return afterVisitSequence(seq);
}

}  // namespace ASN1
