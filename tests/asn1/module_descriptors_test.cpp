// The generated descriptors against the module text: type counts per module
// as the schema tables state them, and every type's components, presence,
// alternatives, constraints and enumerators as the text gives them
// (describe_modules.py writes the text's view, this test builds the same
// lines from the descriptors).
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <map>
#include <memory>
#include <set>
#include <sstream>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "asn1/asn1.h"
#include "asn1/modules/korvend_asn1_modules_registry.h"
#include "tests/build_paths.h"

namespace {

// The protocol module of that name, null when there is none.
const ASN1::Module* find_module(const char* name) {
  for (const ASN1::Module* const* m = korvend_asn1_modules_registry; *m; ++m) {
    if (std::strcmp((*m)->name(), name) == 0) return *m;
  }
  return nullptr;
}

enum Kind { Sequence, Choice, Enumerated, Other };

Kind kind_of(const void* info) {
  std::unique_ptr<ASN1::AbstractData> v(ASN1::typeInfo(info)->create(info));
  if (dynamic_cast<ASN1::SEQUENCE*>(v.get())) return Sequence;
  if (dynamic_cast<ASN1::CHOICE*>(v.get())) return Choice;
  if (dynamic_cast<ASN1::ENUMERATED*>(v.get())) return Enumerated;
  return Other;
}

struct Counts {
  const char* module;
  int total, sequences, choices, enumerations;  // -1: not stated
};

// As the schema tables state them.
const Counts stated[] = {
    {"LGCP", 107, 64, 24, 19}, {"TERM", 171, 95, 42, 34}, {"VESKGW", 157, 100, 23, 34},
    {"ACP", 50, -1, -1, -1},   {"MON", 19, -1, -1, -1},   {"HSP", 21, -1, -1, -1},
    {"BASE", 3, -1, -1, -1},   {"MEDIA", 11, -1, -1, -1}, {"CCP", 2, -1, -1, -1},
    {"YACP", 14, -1, -1, -1},  {"E2E", 1, -1, -1, -1},    {"ROUTER", 36, -1, -1, -1},
};

TEST(ModuleDescriptors, EveryModuleHasTheTypeCountsItsTableStates) {
  for (const Counts& c : stated) {
    SCOPED_TRACE(c.module);
    const ASN1::Module* m = find_module(c.module);
    ASSERT_NE(m, nullptr);
    int n[4] = {0, 0, 0, 0};
    for (uint32_t i = 0; i < m->typeCount(); ++i) ++n[kind_of(m->type(i).info)];
    EXPECT_EQ(int(m->typeCount()), c.total);
    EXPECT_EQ(n[Other], 0) << "every type of the tables is a SEQUENCE, CHOICE or enumeration";
    if (c.sequences >= 0) {
      EXPECT_EQ(n[Sequence], c.sequences);
      EXPECT_EQ(n[Choice], c.choices);
      EXPECT_EQ(n[Enumerated], c.enumerations);
    }
  }
}

class Describer {
 public:
  explicit Describer(const std::set<std::string>& named) {
    for (const ASN1::Module* const* m = korvend_asn1_modules_registry; *m; ++m) {
      for (uint32_t i = 0; i < (*m)->typeCount(); ++i) {
        std::string name = std::string((*m)->name()) + "." + (*m)->type(i).name;
        if (named.count(name)) names_[(*m)->type(i).info] = name;
      }
    }
  }

  std::string type_text(const void* info) const {
    auto it = names_.find(info);
    if (it != names_.end()) return it->second;
    std::unique_ptr<ASN1::AbstractData> v(ASN1::typeInfo(info)->create(info));
    if (auto* l = dynamic_cast<ASN1::SEQUENCE_OF_Base*>(v.get()))
      return std::string(l->getTag() == 17 ? "SET OF " : "SEQUENCE OF ") + type_text(l->elementInfo());
    if (auto* i = dynamic_cast<ASN1::INTEGER*>(v.get())) return "INTEGER" + bounds(*i);
    if (auto* s = dynamic_cast<ASN1::IA5String*>(v.get())) {
      std::string b = bounds(*s);
      return b.empty() ? "IA5String" : "IA5String(SIZE" + b + ")";
    }
    if (dynamic_cast<ASN1::Null*>(v.get())) return "NULL";
    if (dynamic_cast<ASN1::BOOLEAN*>(v.get())) return "BOOLEAN";
    if (dynamic_cast<ASN1::OCTET_STRING*>(v.get())) return "OCTET STRING";
    if (dynamic_cast<ASN1::OBJECT_IDENTIFIER*>(v.get())) return "OBJECT IDENTIFIER";
    return "?";
  }

  std::string describe(const std::string& name, const void* info) const {
    std::ostringstream os;
    os << name;
    switch (kind_of(info)) {
      case Sequence: {
        auto* s = static_cast<const ASN1::SequenceInfo*>(info);
        os << " | SEQUENCE | ext=" << s->extendable;
        uint32_t optional = 0;
        for (uint32_t i = 0; i < s->rootFieldCount; ++i) optional += s->fieldIds[i] >= 0;
        if (optional != s->optionalCount) os << " | optionalCount=" << s->optionalCount;
        for (uint32_t i = 0; i < s->rootFieldCount + s->extensionCount; ++i) {
          os << " | " << s->fieldNames[i] << ':' << type_text(s->fieldInfos[i]) << ':';
          // Additions are numbered after the root's optional bits; their
          // own entries are not read.
          if (i >= s->rootFieldCount) os << 'O' << s->optionalCount + (i - s->rootFieldCount);
          else if (s->fieldIds[i] < 0) os << 'M';
          else os << 'O' << s->fieldIds[i];
        }
        break;
      }
      case Choice: {
        auto* c = static_cast<const ASN1::ChoiceInfo*>(info);
        os << " | CHOICE | ext=" << c->extendable << " | root=" << c->rootCount;
        for (uint32_t i = 0; i < c->totalCount; ++i)
          os << " | " << c->selectionNames[i] << ':' << type_text(c->selectionInfos[i]);
        break;
      }
      case Enumerated: {
        auto* e = static_cast<const ASN1::EnumeratedInfo*>(info);
        os << " | ENUMERATED | ext=" << e->extendable << " | max=" << e->maxValue;
        for (uint32_t i = 0; i < e->nameCount; ++i) os << " | " << e->names[i].name << '=' << e->names[i].value;
        break;
      }
      case Other:
        os << " | ?";
    }
    return os.str();
  }

 private:
  template <class T>
  static std::string bounds(const T& v) {
    if (v.constraintType() == ASN1::Unconstrained) return "";
    std::ostringstream os;
    os << '(' << v.getLowerLimit() << "..";
    if (v.getLowerLimit() >= 0) os << v.getUpperLimit();
    else os << int32_t(v.getUpperLimit());
    os << ')';
    return os.str();
  }

  std::map<const void*, std::string> names_;
};

TEST(ModuleDescriptors, EveryTypeMatchesTheModuleText) {
  std::ifstream in(testkit::buildDir() + "/tests/asn1/modules.expect");
  ASSERT_TRUE(in) << "modules.expect is written by describe_modules.py at build time";
  std::vector<std::string> expected;
  std::set<std::string> named;
  for (std::string line; std::getline(in, line);) {
    expected.push_back(line);
    named.insert(line.substr(0, line.find(' ')));
  }
  ASSERT_EQ(expected.size(), 592u);

  Describer d(named);
  unsigned checked = 0;
  for (const std::string& line : expected) {
    std::string name = line.substr(0, line.find(' '));
    std::string mod = name.substr(0, name.find('.')), type = name.substr(name.find('.') + 1);
    const ASN1::Module* m = find_module(mod.c_str());
    ASSERT_NE(m, nullptr) << mod;
    const void* info = m->find(type.c_str());
    if (!info) {
      ADD_FAILURE() << "no descriptor for " << name;
      continue;
    }
    EXPECT_EQ(d.describe(name, info), line);
    ++checked;
  }
  EXPECT_EQ(checked, 592u);
}

}  // namespace
