// The two visitor interfaces. Decoders (PER, BER, value-notation reader)
// fill a value through Visitor; encoders, the printer and the checkers read
// it through ConstVisitor. A SEQUENCE is visited only through the two walks
// visit(SEQUENCE&) and visit(const SEQUENCE&), which call the hooks below.
#pragma once

namespace ASN1 {

class AbstractData;
class Null;
class BOOLEAN;
class INTEGER;
class IntegerWithNamedNumber;
class ENUMERATED;
class OBJECT_IDENTIFIER;
class OCTET_STRING;
class BIT_STRING;
class AbstractString;
class BMPString;
class CHOICE;
class SEQUENCE;
class SEQUENCE_OF_Base;
class OpenData;
class TypeConstrainedOpenData;
class GeneralizedTime;

class Visitor {
 public:
  virtual ~Visitor() {}
  bool visit(AbstractData& v);
  // The SEQUENCE walk.
  bool visit(SEQUENCE& seq);

  virtual bool do_visit(Null& v) = 0;
  virtual bool do_visit(BOOLEAN& v) = 0;
  virtual bool do_visit(INTEGER& v) = 0;
  virtual bool do_visit(IntegerWithNamedNumber& v);
  virtual bool do_visit(ENUMERATED& v) = 0;
  virtual bool do_visit(OBJECT_IDENTIFIER& v) = 0;
  virtual bool do_visit(OCTET_STRING& v) = 0;
  virtual bool do_visit(BIT_STRING& v) = 0;
  virtual bool do_visit(AbstractString& v) = 0;
  virtual bool do_visit(BMPString& v) = 0;
  virtual bool do_visit(CHOICE& v) = 0;
  virtual bool do_visit(SEQUENCE_OF_Base& v) = 0;
  virtual bool do_visit(OpenData& v) = 0;
  virtual bool do_revisit(OpenData& v) = 0;
  virtual bool do_visit(TypeConstrainedOpenData& v) = 0;
  virtual bool do_visit(GeneralizedTime& v) = 0;

  // Answers of the SEQUENCE hooks: 0 fail, 1 done (stop, success),
  // 2 root only / next, 3 go on with extensions.
  enum { FAIL = 0, STOP = 1, NO_EXTENSION = 2, CONTINUE = 3 };
  virtual int preVisitExtensionRoots(SEQUENCE& seq);
  virtual int visitExtensionRoot(SEQUENCE& seq, int index, int optionalId);
  virtual int preVisitExtensions(SEQUENCE& seq);
  virtual int visitKnownExtension(SEQUENCE& seq, int index, int optionalId);
  virtual bool visitUnknownExtensions(SEQUENCE& seq);
};

class ConstVisitor {
 public:
  virtual ~ConstVisitor() {}
  bool visit(const AbstractData& v);
  // The SEQUENCE walk.
  bool visit(const SEQUENCE& seq);

  virtual bool do_visit(const AbstractData& v);
  virtual bool do_visit(const Null& v);
  virtual bool do_visit(const BOOLEAN& v);
  virtual bool do_visit(const INTEGER& v);
  virtual bool do_visit(const IntegerWithNamedNumber& v);
  virtual bool do_visit(const ENUMERATED& v);
  virtual bool do_visit(const OBJECT_IDENTIFIER& v);
  virtual bool do_visit(const BIT_STRING& v);
  virtual bool do_visit(const OCTET_STRING& v);
  virtual bool do_visit(const AbstractString& v);
  virtual bool do_visit(const BMPString& v);
  virtual bool do_visit(const CHOICE& v);
  virtual bool do_visit(const OpenData& v);
  virtual bool do_visit(const GeneralizedTime& v);
  virtual bool do_visit(const SEQUENCE_OF_Base& v);

  virtual bool preVisitExtensionRoots(const SEQUENCE& seq);
  virtual bool visitExtensionRoot(const SEQUENCE& seq, int index);
  virtual bool preVisitExtensions(const SEQUENCE& seq);
  virtual bool visitKnownExtension(const SEQUENCE& seq, int index);
  virtual bool afterVisitSequence(const SEQUENCE& seq);
};

}  // namespace ASN1
