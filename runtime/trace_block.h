#pragma once
// A scope marker: "Enter <name>" when built and "Leave <name>" when it goes
// out of scope, both only when enabled (usually a trace flag).
#include <iosfwd>

namespace Trace {

class Block {
 public:
  Block(bool enabled, const char* name, std::ostream& os);
  ~Block();
  Block(const Block&) = delete;
  Block& operator=(const Block&) = delete;

 private:
  bool enabled_;
  const char* name_;
  std::ostream& os_;
};

}  // namespace Trace
