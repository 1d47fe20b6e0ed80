// Open types: a value of a type known only to the reader, held decoded, as
// undecoded octets, or both.
#pragma once

#include <memory>
#include <vector>

#include "asn1/scalar.h"

namespace ASN1 {

class OpenData : public AbstractData, public detail::Allocator<OpenData> {
  ASN1_VALUE_CLASS_MEMBERS(OpenData)
  static const TypeInfo theInfo;
  explicit OpenData(const void* info = &theInfo) : AbstractData(info) {}
  OpenData(const OpenData& o);
  OpenData& operator=(const OpenData& o);
  void swap(OpenData& o);

  bool has_data() const { return data_ != nullptr; }
  bool has_buf() const { return buf_ != nullptr; }
  const AbstractData& get_data() const { return *data_; }
  AbstractData& get_data() { return *data_; }
  void grab(AbstractData* value) { data_.reset(value); }
  const std::vector<char>& get_buf() const { return *buf_; }
  std::vector<char>& get_buf() {
    if (!buf_) buf_.reset(new std::vector<char>);
    return *buf_;
  }

 private:
  std::unique_ptr<AbstractData> data_;
  std::unique_ptr<std::vector<char> > buf_;
};

class TypeConstrainedOpenData : public OpenData {
 public:
  static AbstractData* create(const void* info) { return new TypeConstrainedOpenData(info); }
  static AbstractData* make_copy(const AbstractData& o) {
    return new TypeConstrainedOpenData(static_cast<const TypeConstrainedOpenData&>(o));
  }
  // The contained value is built from the contained type's descriptor.
  explicit TypeConstrainedOpenData(const void* info);
  const OpenTypeInfo* info() const { return static_cast<const OpenTypeInfo*>(getInfo()); }

 protected:
  bool do_accept(Visitor& v) override;
};

}  // namespace ASN1
