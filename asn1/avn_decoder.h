// Value notation reader: reads back what the printer writes.
#pragma once

#include <iosfwd>
#include <string>
#include <vector>

#include "asn1/visitor.h"

namespace ASN1 {

class AVNDecoder : public Visitor {
 public:
  explicit AVNDecoder(std::istream& is) : is_(is) {}

  bool do_visit(Null& v) override;
  bool do_visit(BOOLEAN& v) override;
  bool do_visit(INTEGER& v) override;
  bool do_visit(IntegerWithNamedNumber& v) override;
  bool do_visit(ENUMERATED& v) override;
  bool do_visit(OBJECT_IDENTIFIER& v) override;
  bool do_visit(OCTET_STRING& v) override;
  bool do_visit(BIT_STRING& v) override;
  bool do_visit(AbstractString& v) override;
  bool do_visit(BMPString& v) override;
  bool do_visit(CHOICE& v) override;
  bool do_visit(SEQUENCE_OF_Base& v) override;
  bool do_visit(OpenData& v) override;
  bool do_revisit(OpenData& v) override;
  bool do_visit(TypeConstrainedOpenData& v) override;
  bool do_visit(GeneralizedTime& v) override;
  int preVisitExtensionRoots(SEQUENCE& seq) override;
  int visitExtensionRoot(SEQUENCE& seq, int index, int optionalId) override;
  int visitKnownExtension(SEQUENCE& seq, int index, int optionalId) override;
  bool visitUnknownExtensions(SEQUENCE& seq) override;

 private:
  // Skips white space; the next character, or -1 at the end.
  int peek();
  // Skips white space and takes the next character if it is c.
  bool expect(char c);
  // A name: letters, digits, '-' and '_'.
  bool readWord(std::string& word);
  // A decimal number, optionally negative.
  bool readNumber(int64_t& out);
  // Text between double quotes, a doubled quote standing for one.
  bool readQuoted(std::string& out);
  // 'digits'B or 'digits'H as bits.
  bool readBits(std::vector<uint8_t>& bytes, unsigned& bits);
  int visitField(SEQUENCE& seq, int index, int optionalId);

  std::istream& is_;
  std::vector<std::string> names_;  // per SEQUENCE being read: the field name read last
};

}  // namespace ASN1
