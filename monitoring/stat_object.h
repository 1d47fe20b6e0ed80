#pragma once
// The tree of statistics a page is generated from: each node answers for
// its named values, its named child nodes and its named lists of nodes.
#include <memory>
#include <string>

namespace Stat {

struct Value {
  Value() = default;
  explicit Value(std::string t) : valid(true), text(std::move(t)) {}

  explicit operator bool() const { return valid; }

  bool valid = false;
  std::string text;
};

class Object;

// A position in a list of nodes, on its first element when made.
class IteratorBase {
 public:
  virtual ~IteratorBase() = default;
  // There is a current element.
  virtual bool valid() const = 0;
  // Moves to the next element; false when the list is done.
  virtual bool next() = 0;
  // The current element (only while valid()).
  virtual Object& object() const = 0;
};

class Object {
 public:
  virtual ~Object() = default;
  // The named value, not valid when this node has none by that name.
  virtual Value statistics_value(const std::string& name) const = 0;
  // The named child node, or null.
  virtual Object* statistics_object(const std::string& name) const = 0;
  // A new iterator over the named list, or null when there is no such list.
  virtual std::unique_ptr<IteratorBase> statistics_iterator(const std::string& name) const = 0;
};

}  // namespace Stat
