// Type descriptors: one constant record per ASN.1 type, walked together with
// the value by every coder. The generator emits them as static constant
// data; nothing here is written after load time.
#pragma once

#include <cstdint>

namespace ASN1 {

class AbstractData;

// Builds a new value of the descriptor's type, initialised from it.
typedef AbstractData* (*CreateFun)(const void* info);
// Builds a deep copy of a value of the descriptor's type (same class).
typedef AbstractData* (*CopyFun)(const AbstractData& source);

enum ConstraintType {
  Unconstrained = 0,
  PartiallyConstrained = 1,  // lower bound only
  FixedConstraint = 2,       // lower..upper
  ExtendableConstraint = 3   // lower..upper, ...
};

// Tag word: class in bits 22-23, number in bits 0-15; 0 = no tag of its own.
enum TagClass : uint32_t {
  UniversalTagClass = 0,
  ApplicationTagClass = 1u << 22,
  ContextSpecificTagClass = 2u << 22,
  PrivateTagClass = 3u << 22
};

struct TypeInfo {
  CreateFun create;
  uint32_t tag;
  CopyFun copy;
};

// INTEGER, BIT STRING, OCTET STRING (value or size constraint).
struct ConstrainedInfo : TypeInfo {
  uint32_t constraintType;
  int32_t lowerLimit;
  uint32_t upperLimit;
};

// One (value, name) pair of a named-number or enumeration table.
struct NamedValue {
  int32_t value;
  const char* name;
};

// Named numbers in ascending value order.
struct IntegerWithNamedNumberInfo : ConstrainedInfo {
  const NamedValue* namedNumbers;
  uint32_t entryCount;
};

// Enumerators in declaration order; values may have gaps or repeat.
struct EnumeratedInfo : TypeInfo {
  bool extendable;
  int32_t maxValue;  // largest root value: the wire bound
  const NamedValue* names;
  uint32_t nameCount;
};

struct AbstractStringInfo : ConstrainedInfo {
  const char* characterSet;  // permitted characters, ascending code order
  uint32_t characterSetSize;
  uint32_t canonicalWidth;  // bits of the largest permitted code
  uint32_t unalignedWidth;
  uint32_t alignedWidth;
};

struct BMPStringInfo : ConstrainedInfo {
  uint32_t firstChar;
  uint32_t lastChar;
  uint32_t unalignedWidth;
  uint32_t alignedWidth;
};

struct SequenceInfo : TypeInfo {
  bool extendable;
  const void* const* fieldInfos;  // root fields, then extension additions
  const int32_t* fieldIds;        // -1 mandatory, else the optional-bit number
  uint32_t rootFieldCount;
  uint32_t extensionCount;
  uint32_t optionalCount;  // OPTIONAL root fields
  const uint8_t* defaultExtensionPresence;
  const uint32_t* tags;
  const char* const* fieldNames;
};

struct ChoiceInfo : TypeInfo {
  bool extendable;
  const void* const* selectionInfos;
  uint32_t rootCount;
  uint32_t totalCount;
  const uint32_t* tags;
  const char* const* selectionNames;
};

struct SequenceOfInfo : ConstrainedInfo {
  const void* elementInfo;
};

struct OpenTypeInfo : TypeInfo {
  const void* containedInfo;  // may be null
};

// The values of ConstrainedInfo for an unconstrained type.
const uint32_t UnboundedUpper = 4294967295u;

inline const TypeInfo* typeInfo(const void* info) { return static_cast<const TypeInfo*>(info); }

}  // namespace ASN1
