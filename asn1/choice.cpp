#include "asn1/choice.h"

#include <utility>

#include "asn1/visitor.h"

namespace ASN1 {

CHOICE::CHOICE(const CHOICE& o)
    : AbstractData(o), value_(o.value_ ? o.value_->clone() : nullptr), selection_(o.selection_) {}

CHOICE& CHOICE::operator=(const CHOICE& o) {
  if (this != &o) {
    CHOICE tmp(o);
    swap(tmp);
  }
  return *this;
}

CHOICE::~CHOICE() { delete value_; }

void CHOICE::swap(CHOICE& o) {
  std::swap(value_, o.value_);
  std::swap(selection_, o.selection_);
}

const char* CHOICE::getSelectionName() const {
  if (selection_ < 0 || uint32_t(selection_) >= info()->totalCount) return nullptr;
  return info()->selectionNames[selection_];
}

AbstractData* CHOICE::setSelection(int selection, AbstractData* value) {
  delete value_;
  value_ = value;
  selection_ = selection;
  return value;
}

bool CHOICE::createSelection() {
  const ChoiceInfo* inf = info();
  delete value_;
  value_ = nullptr;
  if (selection_ >= 0 && uint32_t(selection_) < inf->totalCount && inf->selectionInfos[selection_]) {
    const void* alt = inf->selectionInfos[selection_];
    value_ = typeInfo(alt)->create(alt);
    return true;
  }
  selection_ = unknownSelection_;
  return false;
}

AbstractData* CHOICE::select(int index) {
  if (index == selection_ && value_) return value_;
  selection_ = index;
  return createSelection() ? value_ : nullptr;
}

int CHOICE::do_compare(const AbstractData& other) const {
  const CHOICE& o = static_cast<const CHOICE&>(other);
  if (selection_ >= 0 && selection_ == o.selection_) {
    if (value_ && o.value_) return value_->compare(*o.value_);
    return int(value_ != nullptr) - int(o.value_ != nullptr);
  }
  return compare3(selection_, o.selection_);
}
bool CHOICE::do_accept(Visitor& v) { return v.do_visit(*this); }
bool CHOICE::do_accept(ConstVisitor& v) const { return v.do_visit(*this); }

}  // namespace ASN1
