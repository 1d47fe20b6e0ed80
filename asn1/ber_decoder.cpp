#include "asn1/ber_decoder.h"

#include <cstring>
#include <string>

#include "asn1/bit_string.h"
#include "asn1/char_string.h"
#include "asn1/choice.h"
#include "asn1/generalized_time.h"
#include "asn1/open_data.h"
#include "asn1/sequence.h"
#include "asn1/sequence_of.h"

namespace ASN1 {

bool BERDecoder::decodeHeader(uint32_t& tag, bool& primitive, uint32_t& length) {
  std::size_t p = pos_;
  if (p >= end_) return false;
  const uint8_t id = data_[p++];
  uint32_t number = id & 0x1F;
  if (number == 0x1F) {
    // High-tag-number form: base-128 groups, bit 8 set on all but the last.
    number = 0;
    for (unsigned groups = 0;; ++groups) {
      if (p >= end_ || groups == 3) return false;
      const uint8_t b = data_[p++];
      number = number << 7 | (b & 0x7F);
      if (!(b & 0x80)) break;
    }
    if (number > 0xFFFF) return false;  // a tag word holds 16 bits of number
  }
  if (p >= end_) return false;
  const uint8_t first = data_[p++];
  uint32_t len = first;
  if (first & 0x80) {
    // 0x80 is the indefinite form, which this decoder does not read; 0xFF
    // is reserved; more than four octets cannot hold a 32-bit length.
    const unsigned k = first & 0x7F;
    if (k == 0 || k > 4 || end_ - p < k) return false;
    len = 0;
    for (unsigned i = 0; i < k; ++i) len = len << 8 | data_[p++];
  }
  if (end_ - p < len) return false;
  tag = ber::makeTag(uint32_t(id) >> 6, number);
  primitive = !(id & 0x20);
  length = len;
  pos_ = p;
  return true;
}

bool BERDecoder::decodeHeader(const AbstractData& value, bool& primitive, uint32_t& length) {
  const uint32_t expected = takeTag(value);
  const std::size_t start = pos_;
  uint32_t tag;
  if (expected == 0 || !decodeHeader(tag, primitive, length)) return false;
  if (tag != expected) {
    pos_ = start;
    return false;
  }
  return true;
}

std::size_t BERDecoder::decodeBlock(char* dst, std::size_t n) {
  const std::size_t left = pos_ < end_ ? end_ - pos_ : 0;
  if (n > left) n = left;
  if (n) std::memcpy(dst, data_ + pos_, n);
  pos_ += n;
  return n;
}

bool BERDecoder::peekTag(uint32_t& tag) {
  const std::size_t start = pos_;
  bool primitive;
  uint32_t length;
  if (!decodeHeader(tag, primitive, length)) return false;
  pos_ = start;
  return true;
}

// Strings come only in their primitive form: the constructed (segmented)
// form would have its inner headers taken for contents.
bool BERDecoder::primitiveHeader(const AbstractData& value, uint32_t& length) {
  bool primitive;
  return decodeHeader(value, primitive, length) && primitive;
}

bool BERDecoder::enter(const AbstractData& value, Window& w) {
  bool primitive;
  uint32_t length;
  if (!decodeHeader(value, primitive, length)) return false;
  w.end = pos_ + length;
  w.outer = end_;
  end_ = w.end;
  return true;
}

bool BERDecoder::leave(const Window& w) {
  if (pos_ != w.end) return false;
  end_ = w.outer;
  return true;
}

bool BERDecoder::do_visit(Null& v) {
  uint32_t length;
  if (!primitiveHeader(v, length)) return false;
  pos_ += length;
  return true;
}

bool BERDecoder::do_visit(BOOLEAN& v) {
  uint32_t length;
  if (!primitiveHeader(v, length) || length == 0) return false;
  pos_ += length;
  v.setValue(data_[pos_ - 1] != 0);
  return true;
}

// Up to five octets: every 32-bit value, signed or unsigned, fits in them.
bool BERDecoder::decodeSigned(int64_t& out, uint32_t length) {
  if (length == 0 || length > 5) return false;
  int64_t x = int8_t(data_[pos_]);
  for (uint32_t i = 1; i < length; ++i) x = x * 256 + data_[pos_ + i];
  pos_ += length;
  out = x;
  return true;
}

// A number the value cannot hold fails instead of losing its high bits.
bool BERDecoder::do_visit(INTEGER& v) {
  uint32_t length;
  int64_t x;
  if (!primitiveHeader(v, length) || !decodeSigned(x, length)) return false;
  if (v.isUnsigned() ? (x < 0 || x > int64_t(UINT32_MAX)) : (x < INT32_MIN || x > INT32_MAX)) return false;
  v.setValue(int(int32_t(uint32_t(uint64_t(x)))));
  return true;
}

bool BERDecoder::do_visit(ENUMERATED& v) {
  uint32_t length;
  int64_t x;
  if (!primitiveHeader(v, length) || !decodeSigned(x, length)) return false;
  if (x < INT32_MIN || x > INT32_MAX) return false;
  v.setValue(int(x));
  return true;
}

bool BERDecoder::do_visit(OBJECT_IDENTIFIER& v) {
  uint32_t length;
  if (!primitiveHeader(v, length)) return false;
  const char* at = reinterpret_cast<const char*>(data_ + pos_);
  pos_ += length;
  return v.decodeCommon(at, length);
}

bool BERDecoder::do_visit(BIT_STRING& v) {
  uint32_t length;
  if (!primitiveHeader(v, length) || length == 0) return false;
  const unsigned unused = data_[pos_];
  // At most 7 unused bits, and none in an empty string.
  if (unused > 7 || (length == 1 && unused != 0)) return false;
  const uint64_t bits = uint64_t(length - 1) * 8 - unused;
  if (bits > UINT32_MAX) return false;
  ++pos_;
  v.resize(0);
  v.resize(unsigned(bits));
  decodeBlock(reinterpret_cast<char*>(v.bytes().data()), length - 1);
  v.resize(unsigned(bits));  // clears the unused bits
  return true;
}

bool BERDecoder::do_visit(OCTET_STRING& v) {
  uint32_t length;
  if (!primitiveHeader(v, length)) return false;
  v.resize(length);
  decodeBlock(v.data(), length);
  return true;
}

bool BERDecoder::do_visit(AbstractString& v) {
  uint32_t length;
  if (!primitiveHeader(v, length)) return false;
  v.assign(reinterpret_cast<const char*>(data_ + pos_), length);
  pos_ += length;
  return true;
}

bool BERDecoder::do_visit(BMPString& v) {
  uint32_t length;
  if (!primitiveHeader(v, length) || length % 2) return false;
  v.resize(length / 2);
  for (uint32_t i = 0; i < length / 2; ++i) v[i] = wchar_t(data_[pos_ + 2 * i] << 8 | data_[pos_ + 2 * i + 1]);
  pos_ += length;
  return true;
}

bool BERDecoder::do_visit(GeneralizedTime& v) {
  uint32_t length;
  if (!primitiveHeader(v, length)) return false;
  std::string text(length, '\0');
  if (length) decodeBlock(&text[0], length);
  return v.setAfresh(text.c_str());
}

// The alternative a decoded tag selects: the matching entry of the tag
// table (the first alternative, an untagged CHOICE, when none matches and
// its entry is 0), else the tag number; -1 for none.
static int selectionByTag(const ChoiceInfo* inf, uint32_t tag) {
  if (inf->tags) {
    for (uint32_t i = 0; i < inf->rootCount; ++i) {
      if (inf->tags[i] == tag) return int(i);
    }
    return inf->rootCount > 0 && inf->tags[0] == 0 ? 0 : -1;
  }
  const uint32_t n = ber::tagNumber(tag);
  return n < inf->totalCount ? int(n) : -1;
}

bool BERDecoder::do_visit(CHOICE& v) {
  const ChoiceInfo* inf = v.info();
  // Given a tag (as a field, or by its own descriptor), the CHOICE is an
  // explicit wrapper around its alternative; else only the alternative.
  const bool wrapped = (tag_ == ber::NoTag ? v.getTag() : tag_) != 0;
  Window w;
  if (wrapped) {
    if (!enter(v, w)) return false;
  } else {
    tag_ = ber::NoTag;
  }
  uint32_t tag;
  if (!peekTag(tag)) return false;
  const int index = selectionByTag(inf, tag);
  AbstractData* alt = index < 0 ? nullptr : v.select(index);
  if (!alt) return false;
  setTag(ber::alternativeTag(inf, unsigned(index)));
  return alt->accept(*this) && (!wrapped || leave(w));
}

bool BERDecoder::do_visit(SEQUENCE_OF_Base& v) {
  Window w;
  if (!enter(v, w)) return false;
  v.clear();
  while (pos_ < end_) {
    AbstractData* e = v.append();
    const std::size_t before = pos_;
    // An element that reads nothing would repeat for ever.
    if (!e->accept(*this) || pos_ == before) return false;
  }
  return leave(w);
}

// Explicitly tagged, the stored octets are the contents (the contained
// value's own encoding); untagged, they are the whole element.
bool BERDecoder::do_visit(OpenData& v) {
  const uint32_t expected = takeTag(v);
  const std::size_t start = pos_;
  uint32_t tag, length;
  bool primitive;
  if (!decodeHeader(tag, primitive, length)) return false;
  if (expected != 0 && tag != expected) {
    pos_ = start;
    return false;
  }
  const std::size_t from = expected != 0 ? pos_ : start;
  pos_ += length;
  v.get_buf().assign(data_ + from, data_ + pos_);
  return true;
}

bool BERDecoder::do_revisit(OpenData& v) {
  if (!v.has_buf() || !v.has_data()) return false;
  const std::vector<char>& buf = v.get_buf();
  BERDecoder inner(buf.data(), buf.data() + buf.size(), env_);
  return v.get_data().accept(inner);
}

bool BERDecoder::do_visit(TypeConstrainedOpenData& v) {
  if (!v.has_data()) return false;
  if ((tag_ == ber::NoTag ? v.getTag() : tag_) == 0) {
    tag_ = ber::NoTag;
    return v.get_data().accept(*this);
  }
  Window w;
  return enter(v, w) && v.get_data().accept(*this) && leave(w);
}

int BERDecoder::preVisitExtensionRoots(SEQUENCE& seq) {
  Window w;
  if (!enter(seq, w)) return FAIL;
  seqWindows_.push_back(w);
  SEQUENCE::BitMap& opt = seq.optionalMap();
  opt.resize(0);
  opt.resize(seq.info()->optionalCount);
  seq.extensionMap().resize(0);
  return CONTINUE;
}

// A field is present when the next element carries its tag (an untagged
// field, tag 0, takes any element); else an optional field is absent.
int BERDecoder::decodeField(SEQUENCE& seq, int index, int optionalId) {
  const SequenceInfo* inf = seq.info();
  const bool optional = optionalId >= 0;
  if (pos_ >= end_) return optional ? CONTINUE : FAIL;
  const uint32_t tag = ber::fieldTag(inf, unsigned(index));
  if (tag != 0) {
    uint32_t next;
    if (!peekTag(next)) return FAIL;
    if (next != tag) return optional ? CONTINUE : FAIL;
  }
  if (!inf->fieldInfos[index]) return FAIL;
  if (optional) seq.includeOptionalField(unsigned(optionalId), unsigned(index));
  const std::size_t pos = pos_, end = end_, depth = seqWindows_.size();
  setTag(tag);
  if (seq.field(unsigned(index)).accept(*this)) return CONTINUE;
  if (!optional) return FAIL;
  seq.removeOptionalField(unsigned(optionalId));
  if (tag != 0) return FAIL;
  // An untagged optional field that does not read is absent.
  pos_ = pos;
  end_ = end;
  seqWindows_.resize(depth);
  tag_ = ber::NoTag;
  return CONTINUE;
}

int BERDecoder::visitExtensionRoot(SEQUENCE& seq, int index, int optionalId) {
  return decodeField(seq, index, optionalId);
}

int BERDecoder::visitKnownExtension(SEQUENCE& seq, int index, int optionalId) {
  return decodeField(seq, index, optionalId);
}

// Additions this system does not know are skipped; a type without an
// extension marker has none, so anything left is not its encoding.
bool BERDecoder::visitUnknownExtensions(SEQUENCE& seq) {
  const Window w = seqWindows_.back();
  seqWindows_.pop_back();
  if (pos_ != w.end && !seq.extendable()) return false;
  pos_ = w.end;
  end_ = w.outer;
  return true;
}

}  // namespace ASN1
