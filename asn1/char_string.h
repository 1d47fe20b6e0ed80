// Restricted character strings (one byte per character) and BMPString.
#pragma once

#include <string>

#include "asn1/scalar.h"

namespace ASN1 {

class AbstractString : public ConstrainedObject,
                       public std::string,
                       public detail::Allocator<AbstractString> {
  ASN1_VALUE_CLASS_MEMBERS(AbstractString)
  explicit AbstractString(const void* info) : ConstrainedObject(info) {}
  AbstractString(const void* info, const std::string& s) : ConstrainedObject(info), std::string(s) {}
  AbstractString(const void* info, const char* s) : ConstrainedObject(info), std::string(s) {}
  AbstractString& operator=(const std::string& s) {
    std::string::assign(s);
    return *this;
  }
  AbstractString& operator=(const char* s) {
    std::string::assign(s);
    return *this;
  }
  const AbstractStringInfo* info() const { return static_cast<const AbstractStringInfo*>(getInfo()); }
  const std::string& str() const { return *this; }
  // Position of c in the permitted alphabet, -1 when not permitted.
  int alphabetIndex(unsigned char c) const;
};

#define ASN1_STRING_CLASS(Class)                                                           \
  class Class : public AbstractString {                                                    \
   public:                                                                                 \
    static const AbstractStringInfo theInfo;                                               \
    static AbstractData* create(const void* info) { return new Class(info); }             \
    static AbstractData* make_copy(const AbstractData& o) {                                \
      return new Class(static_cast<const AbstractString&>(o));                             \
    }                                                                                      \
    explicit Class(const void* info = &theInfo) : AbstractString(info) {}                 \
    explicit Class(const AbstractString& o) : AbstractString(o) {}                         \
    Class(const std::string& s, const void* info = &theInfo) : AbstractString(info, s) {} \
    Class(const char* s, const void* info = &theInfo) : AbstractString(info, s) {}        \
    using AbstractString::operator=;                                                       \
  };

ASN1_STRING_CLASS(IA5String)
ASN1_STRING_CLASS(NumericString)
ASN1_STRING_CLASS(PrintableString)
ASN1_STRING_CLASS(VisibleString)
ASN1_STRING_CLASS(GeneralString)

extern const char IA5StringSet[129];
extern const char NumericStringSet[12];
extern const char PrintableStringSet[75];
extern const char VisibleStringSet[96];
extern const char GeneralStringSet[257];

class BMPString : public ConstrainedObject, public std::wstring {
  ASN1_VALUE_CLASS_MEMBERS(BMPString)
  static const BMPStringInfo theInfo;
  explicit BMPString(const void* info = &theInfo) : ConstrainedObject(info) {}
  BMPString(const std::wstring& s, const void* info) : ConstrainedObject(info), std::wstring(s) {}
  BMPString(const wchar_t* s, const void* info) : ConstrainedObject(info), std::wstring(s) {}
  const BMPStringInfo* info() const { return static_cast<const BMPStringInfo*>(getInfo()); }
  bool legalCharacter(wchar_t c) const {
    return unsigned(c) >= info()->firstChar && unsigned(c) <= info()->lastChar;
  }
  // Index of the first character outside the permitted range, or the length.
  std::size_t first_illegal_at() const;
};

}  // namespace ASN1
