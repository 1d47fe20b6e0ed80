#pragma once
// The text written to a standard stream (std::cerr, std::clog, ...) while the
// object lives; the stream's own buffer is put back when it goes.
#include <iostream>
#include <sstream>
#include <string>

namespace testkit {

class StreamCapture {
 public:
  explicit StreamCapture(std::ostream& s) : stream_(s), old_(s.rdbuf(text_.rdbuf())) {}
  ~StreamCapture() { stream_.rdbuf(old_); }
  StreamCapture(const StreamCapture&) = delete;
  StreamCapture& operator=(const StreamCapture&) = delete;

  std::string str() const { return text_.str(); }
  void clear() { text_.str(""); }
  // What was written so far, which is then forgotten.
  std::string take() {
    std::string t = text_.str();
    text_.str("");
    return t;
  }

 private:
  std::ostringstream text_;  // before old_: the constructor hands its buffer over
  std::ostream& stream_;
  std::streambuf* old_;
};

}  // namespace testkit
