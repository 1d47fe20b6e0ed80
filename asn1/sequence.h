// SEQUENCE: one owned component per field, created on demand, and the two
// presence bitmaps stored exactly as PER writes its preamble.
#pragma once

#include <cstdint>
#include <cstring>
#include <utility>

#include <boost/scoped_array.hpp>

#include "asn1/scalar.h"

namespace ASN1 {

class SEQUENCE : public AbstractData, public detail::Allocator<SEQUENCE> {
  ASN1_VALUE_CLASS_MEMBERS(SEQUENCE)

  // Bit i is bit 0x80 >> (i % 8) of byte i / 8. Bits beyond the count read
  // as 0 and cannot be set. Small maps (up to 128 bits, every map a decoder
  // accepts) live inside the object.
  class BitMap {
   public:
    BitMap() : count_(0) { std::memset(small_, 0, sizeof small_); }
    BitMap(const BitMap& o);
    BitMap& operator=(const BitMap& o);
    void swap(BitMap& o);
    unsigned size() const { return count_; }
    bool operator[](unsigned i) const { return i < count_ && (data()[i / 8] & (0x80 >> (i % 8))); }
    void set(unsigned i);
    void clear(unsigned i);
    // Keeps the leading bits, new bits are 0.
    void resize(unsigned n) {
      // Growing inside the object: the bytes past the count are already 0.
      if (!big_ && n >= count_ && n <= SmallBytes * 8) {
        count_ = n;
        return;
      }
      resizeSlow(n);
    }
    bool any() const;
    const uint8_t* data() const { return big_ ? big_.get() : small_; }
    uint8_t* data() { return big_ ? big_.get() : small_; }
    unsigned byteCount() const { return (count_ + 7) / 8; }

   private:
    enum { SmallBytes = 16 };
    void resizeSlow(unsigned n);
    uint32_t count_;
    uint8_t small_[SmallBytes];
    boost::scoped_array<uint8_t> big_;
  };

  // One owning pointer per field: root fields, then extension additions.
  class FieldVector {
   public:
    FieldVector() : fields_(nullptr), size_(0) {}
    explicit FieldVector(unsigned n);
    ~FieldVector();
    unsigned size() const { return size_; }
    AbstractData*& operator[](unsigned i) { return fields_[i]; }
    AbstractData* operator[](unsigned i) const { return fields_[i]; }
    void swap(FieldVector& o) {
      std::swap(fields_, o.fields_);
      std::swap(size_, o.size_);
    }

   private:
    FieldVector(const FieldVector&) = delete;
    FieldVector& operator=(const FieldVector&) = delete;
    AbstractData** fields_;  // from the value pool, like the values
    unsigned size_;
  };

  // Mandatory root fields are created at once, the others stay absent.
  explicit SEQUENCE(const void* info);
  SEQUENCE(const SEQUENCE& o);
  SEQUENCE& operator=(const SEQUENCE& o);
  ~SEQUENCE() override {}
  void swap(SEQUENCE& o);

  const SequenceInfo* info() const { return static_cast<const SequenceInfo*>(getInfo()); }
  bool extendable() const { return info()->extendable; }
  unsigned fieldCount() const { return fields_.size(); }

  // Optional ids: OPTIONAL root fields 0..k-1 in field order, then the
  // extension additions k, k+1, ...
  bool hasOptionalField(unsigned optionalId) const;
  // Marks the field present and creates its component when it has none
  // (an existing component keeps its contents). An id or index the type
  // does not have is ignored.
  void includeOptionalField(unsigned optionalId, unsigned index);
  // Clears the mark only; the component stays and comes back when included.
  void removeOptionalField(unsigned optionalId);

  // The component at a field index, null when absent and never created.
  const AbstractData* getField(unsigned index) const { return fields_[index]; }
  AbstractData* getField(unsigned index) { return fields_[index]; }
  // The component at a field index, created empty when missing (presence
  // marks untouched): what the generated accessors return.
  AbstractData& field(unsigned index) const {
    AbstractData* f = fields_[index];
    return f ? *f : createField(index);
  }

  const BitMap& optionalMap() const { return optionalMap_; }
  BitMap& optionalMap() { return optionalMap_; }
  const BitMap& extensionMap() const { return extensionMap_; }
  BitMap& extensionMap() { return extensionMap_; }

  // For a default tag table: each field keeps its own type's tag.
  static const uint32_t defaultTag;

 private:
  AbstractData& createField(unsigned index) const;

  mutable FieldVector fields_;
  BitMap optionalMap_;
  BitMap extensionMap_;
};

}  // namespace ASN1
