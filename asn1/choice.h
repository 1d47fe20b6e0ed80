// CHOICE: the selected alternative's index and its owned value.
#pragma once

#include "asn1/scalar.h"

namespace ASN1 {

class CHOICE : public AbstractData, public detail::Allocator<CHOICE> {
  ASN1_VALUE_CLASS_MEMBERS(CHOICE)
  enum { unselected_ = -1, unknownSelection_ = -2 };

  explicit CHOICE(const void* info) : AbstractData(info), value_(nullptr), selection_(unselected_) {}
  // Takes ownership of value.
  CHOICE(const void* info, int selection, AbstractData* value)
      : AbstractData(info), value_(value), selection_(selection) {}
  CHOICE(const CHOICE& o);
  CHOICE& operator=(const CHOICE& o);
  ~CHOICE() override;
  void swap(CHOICE& o);

  const ChoiceInfo* info() const { return static_cast<const ChoiceInfo*>(getInfo()); }
  int getSelection() const { return selection_; }
  int currentSelection() const { return selection_; }
  bool isSelected() const { return selection_ >= 0 && value_ != nullptr; }
  const AbstractData* getSelectedValue() const { return value_; }
  AbstractData* getSelectedValue() { return value_; }
  const char* getSelectionName() const;
  // Deletes the current value, takes ownership of value (may be null).
  AbstractData* setSelection(int selection, AbstractData* value);
  // Replaces the value by a new one built from the selected alternative's
  // descriptor. Unknown selection: selection -2, no value, false.
  bool createSelection();
  // Selects index (creating its value anew unless it is already held) and
  // returns the value; null for an index the type does not have.
  AbstractData* select(int index);
  bool extendable() const { return info()->extendable; }

 private:
  AbstractData* value_;
  int32_t selection_;
};

}  // namespace ASN1
