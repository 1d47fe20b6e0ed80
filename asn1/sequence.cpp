#include "asn1/sequence.h"

#include <utility>

#include "asn1/visitor.h"

namespace ASN1 {

const uint32_t SEQUENCE::defaultTag = 0;

SEQUENCE::BitMap::BitMap(const BitMap& o) : count_(0) {
  std::memset(small_, 0, sizeof small_);
  *this = o;
}

SEQUENCE::BitMap& SEQUENCE::BitMap::operator=(const BitMap& o) {
  if (this == &o) return *this;
  resize(0);
  resize(o.count_);
  std::memcpy(data(), o.data(), o.byteCount());
  return *this;
}

void SEQUENCE::BitMap::swap(BitMap& o) {
  std::swap(count_, o.count_);
  uint8_t tmp[SmallBytes];
  std::memcpy(tmp, small_, SmallBytes);
  std::memcpy(small_, o.small_, SmallBytes);
  std::memcpy(o.small_, tmp, SmallBytes);
  big_.swap(o.big_);
}

void SEQUENCE::BitMap::resizeSlow(unsigned n) {
  unsigned oldBytes = byteCount();
  unsigned newBytes = (n + 7) / 8;
  if (!big_ && newBytes <= SmallBytes) {
    // Bytes past the count are kept 0, so growing needs no clearing.
    if (n < count_) {
      if (n % 8) small_[n / 8] &= uint8_t(0xFF00 >> (n % 8));
      for (unsigned i = newBytes; i < oldBytes; ++i) small_[i] = 0;
    }
    count_ = n;
    return;
  }
  if (newBytes > SmallBytes && (!big_ || newBytes > oldBytes)) {
    // Move to (or grow) the heap copy.
    boost::scoped_array<uint8_t> grown(new uint8_t[newBytes]());
    std::memcpy(grown.get(), data(), std::min(oldBytes, newBytes));
    big_.swap(grown);
  } else if (newBytes <= SmallBytes) {
    std::memset(small_, 0, SmallBytes);
    std::memcpy(small_, big_.get(), std::min(oldBytes, newBytes));
    big_.reset();
  }
  uint8_t* d = data();
  if (newBytes > oldBytes) std::memset(d + oldBytes, 0, newBytes - oldBytes);
  if (n < count_ && (n % 8)) d[n / 8] &= uint8_t(0xFF00 >> (n % 8));
  count_ = n;
}

void SEQUENCE::BitMap::set(unsigned i) {
  if (i < count_) data()[i / 8] |= uint8_t(0x80 >> (i % 8));
}

void SEQUENCE::BitMap::clear(unsigned i) {
  if (i < count_) data()[i / 8] &= uint8_t(~(0x80 >> (i % 8)));
}

bool SEQUENCE::BitMap::any() const {
  const uint8_t* d = data();
  for (unsigned i = 0; i < byteCount(); ++i) {
    if (d[i]) return true;
  }
  return false;
}

SEQUENCE::FieldVector::FieldVector(unsigned n) : fields_(nullptr), size_(n) {
  if (n) {
    fields_ = static_cast<AbstractData**>(detail::pool_allocate(n * sizeof(AbstractData*)));
    std::memset(fields_, 0, n * sizeof(AbstractData*));
  }
}

SEQUENCE::FieldVector::~FieldVector() {
  for (unsigned i = 0; i < size_; ++i) delete fields_[i];
  if (fields_) detail::pool_release(fields_, size_ * sizeof(AbstractData*));
}

// The fields are made in place: should a create fail, the member's
// destructor releases those made so far.
SEQUENCE::SEQUENCE(const void* info)
    : AbstractData(info),
      fields_(static_cast<const SequenceInfo*>(info)->rootFieldCount +
              static_cast<const SequenceInfo*>(info)->extensionCount) {
  const SequenceInfo* inf = this->info();
  FieldVector& fields = fields_;
  for (uint32_t i = 0; i < inf->rootFieldCount; ++i) {
    const void* fi = inf->fieldInfos[i];
    if (inf->fieldIds[i] == -1 && fi) fields[i] = typeInfo(fi)->create(fi);
  }
  optionalMap_.resize(inf->optionalCount);
  if (inf->defaultExtensionPresence) {
    extensionMap_.resize(inf->extensionCount);
    std::memcpy(extensionMap_.data(), inf->defaultExtensionPresence, extensionMap_.byteCount());
    for (uint32_t k = 0; k < inf->extensionCount; ++k) {
      const void* fi = inf->fieldInfos[inf->rootFieldCount + k];
      if (extensionMap_[k] && fi) fields[inf->rootFieldCount + k] = typeInfo(fi)->create(fi);
    }
  }
}

SEQUENCE::SEQUENCE(const SEQUENCE& o) : AbstractData(o), optionalMap_(o.optionalMap_), extensionMap_(o.extensionMap_) {
  FieldVector fields(o.fields_.size());
  for (unsigned i = 0; i < fields.size(); ++i) {
    if (o.fields_[i]) fields[i] = o.fields_[i]->clone();
  }
  fields_.swap(fields);
}

SEQUENCE& SEQUENCE::operator=(const SEQUENCE& o) {
  if (this != &o) {
    SEQUENCE tmp(o);
    swap(tmp);
  }
  return *this;
}

void SEQUENCE::swap(SEQUENCE& o) {
  fields_.swap(o.fields_);
  optionalMap_.swap(o.optionalMap_);
  extensionMap_.swap(o.extensionMap_);
}

bool SEQUENCE::hasOptionalField(unsigned id) const {
  unsigned k = info()->optionalCount;
  return id < k ? optionalMap_[id] : extensionMap_[id - k];
}

void SEQUENCE::includeOptionalField(unsigned id, unsigned index) {
  const SequenceInfo* inf = info();
  if (index >= fields_.size() || id >= inf->optionalCount + inf->extensionCount) return;
  if (id < inf->optionalCount) {
    optionalMap_.set(id);
  } else {
    unsigned k = id - inf->optionalCount;
    if (extensionMap_.size() <= k) extensionMap_.resize(k + 1);
    extensionMap_.set(k);
  }
  if (!fields_[index]) {
    const void* fi = inf->fieldInfos[index];
    if (fi) fields_[index] = typeInfo(fi)->create(fi);
  }
}

void SEQUENCE::removeOptionalField(unsigned id) {
  unsigned k = info()->optionalCount;
  if (id < k)
    optionalMap_.clear(id);
  else
    extensionMap_.clear(id - k);
}

AbstractData& SEQUENCE::createField(unsigned index) const {
  const void* fi = info()->fieldInfos[index];
  AbstractData* f = typeInfo(fi)->create(fi);
  fields_[index] = f;
  return *f;
}

// Compares one field that may be absent on either side.
static int compareField(const AbstractData* a, bool inA, const AbstractData* b, bool inB) {
  if (inA != inB) return inA ? 1 : -1;
  if (!inA) return 0;
  if (a && b) return a->compare(*b);
  return int(a != nullptr) - int(b != nullptr);
}

int SEQUENCE::do_compare(const AbstractData& other) const {
  const SEQUENCE& o = static_cast<const SEQUENCE&>(other);
  const SequenceInfo* inf = info();
  for (uint32_t i = 0; i < inf->rootFieldCount; ++i) {
    int32_t id = inf->fieldIds[i];
    bool inA = id < 0 || optionalMap_[unsigned(id)];
    bool inB = id < 0 || o.optionalMap_[unsigned(id)];
    int r = compareField(fields_[i], inA, o.fields_[i], inB);
    if (r) return r;
  }
  for (uint32_t k = 0; k < inf->extensionCount; ++k) {
    unsigned i = inf->rootFieldCount + k;
    int r = compareField(fields_[i], extensionMap_[k], o.fields_[i], o.extensionMap_[k]);
    if (r) return r;
  }
  return 0;
}
bool SEQUENCE::do_accept(Visitor& v) { return v.visit(*this); }
bool SEQUENCE::do_accept(ConstVisitor& v) const { return v.visit(*this); }

}  // namespace ASN1
