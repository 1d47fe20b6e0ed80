#include "asn1/open_data.h"

#include "asn1/visitor.h"

namespace ASN1 {

const TypeInfo OpenData::theInfo = {&OpenData::create, 0, &OpenData::make_copy};

OpenData::OpenData(const OpenData& o)
    : AbstractData(o),
      data_(o.data_ ? o.data_->clone() : nullptr),
      buf_(o.buf_ ? new std::vector<char>(*o.buf_) : nullptr) {}

OpenData& OpenData::operator=(const OpenData& o) {
  if (this != &o) {
    OpenData tmp(o);
    swap(tmp);
  }
  return *this;
}

void OpenData::swap(OpenData& o) {
  data_.swap(o.data_);
  buf_.swap(o.buf_);
}

int OpenData::do_compare(const AbstractData& other) const {
  const OpenData& o = static_cast<const OpenData&>(other);
  if (data_ && o.data_) return data_->compare(*o.data_);
  if (!data_ && !o.data_) {
    if (buf_ && o.buf_) {
      const unsigned char* a = reinterpret_cast<const unsigned char*>(buf_->data());
      const unsigned char* b = reinterpret_cast<const unsigned char*>(o.buf_->data());
      return lexicographic_compare_bytes(a, a + buf_->size(), b, b + o.buf_->size());
    }
    return int(buf_ != nullptr) - int(o.buf_ != nullptr);
  }
  return data_ ? 1 : -1;
}
bool OpenData::do_accept(Visitor& v) { return v.do_visit(*this); }
bool OpenData::do_accept(ConstVisitor& v) const { return v.do_visit(*this); }

TypeConstrainedOpenData::TypeConstrainedOpenData(const void* info) : OpenData(info) {
  const void* ci = this->info()->containedInfo;
  if (ci) grab(typeInfo(ci)->create(ci));
}

bool TypeConstrainedOpenData::do_accept(Visitor& v) { return v.do_visit(*this); }

}  // namespace ASN1
