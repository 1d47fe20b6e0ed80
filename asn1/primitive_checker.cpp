#include "asn1/primitive_checker.h"

namespace ASN1 {

// A CHOICE or an open type carries an identifier of its own only as an
// explicit tag around a complete encoding, which is always constructed
// (X.690 8.14), whatever the alternative or contained value is.
bool PrimitiveChecker::do_visit(const CHOICE&) { return false; }
bool PrimitiveChecker::do_visit(const OpenData&) { return false; }
bool PrimitiveChecker::do_visit(const SEQUENCE_OF_Base&) { return false; }
// Ends the SEQUENCE walk with false.
bool PrimitiveChecker::preVisitExtensionRoots(const SEQUENCE&) { return false; }

}  // namespace ASN1
