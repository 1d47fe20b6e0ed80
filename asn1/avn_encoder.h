// Value notation printer: the text form in which every message is logged.
#pragma once

#include <iosfwd>
#include <vector>

#include "asn1/visitor.h"

namespace ASN1 {

class AVNEncoder : public ConstVisitor {
 public:
  explicit AVNEncoder(std::ostream& os, int indent = 0) : os_(os), indent_(indent) {}

  bool do_visit(const Null& v) override;
  bool do_visit(const BOOLEAN& v) override;
  bool do_visit(const INTEGER& v) override;
  bool do_visit(const IntegerWithNamedNumber& v) override;
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
  bool preVisitExtensionRoots(const SEQUENCE& seq) override;
  bool visitExtensionRoot(const SEQUENCE& seq, int index) override;
  bool visitKnownExtension(const SEQUENCE& seq, int index) override;
  bool afterVisitSequence(const SEQUENCE& seq) override;

  // Prints octets as an OCTET STRING value: '01 0a ff'H.
  static void printOctets(std::ostream& os, const char* data, std::size_t n);

 private:
  bool ok() const;
  void blanks(int n);
  bool printField(const SEQUENCE& seq, int index);

  std::ostream& os_;
  int indent_;
  std::vector<bool> printed_;  // per SEQUENCE being printed: a field was printed
};

}  // namespace ASN1
