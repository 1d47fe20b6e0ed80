#pragma once
// Results of protocol layers: reference-counted success or error objects
// that name the layer which reported them and carry a text. They are always
// held through Protocol_status handles; a null handle dereferenced is fatal.
#include <cstdint>
#include <iosfwd>
#include <string>
#include <utility>

#include "runtime/smart_pointer.h"

class Protocol;

class Internal_protocol_status {
 public:
  Internal_protocol_status(Protocol* reporter, std::string text)
      : reporter_(reporter), text_(std::move(text)) {}
  Internal_protocol_status(const Internal_protocol_status&) = delete;
  Internal_protocol_status& operator=(const Internal_protocol_status&) = delete;
  virtual ~Internal_protocol_status() = default;

  virtual bool success() const = 0;
  virtual std::string message() const { return text_; }
  virtual void out(std::ostream& os) const;

  Protocol* reporter() const { return reporter_; }

 private:
  template <class>
  friend class Smart_pointer;

  Protocol* reporter_;
  std::uint32_t ref_count = 0;
  std::string text_;
};

typedef Smart_pointer<Internal_protocol_status> Protocol_status;

class Protocol_status_success : public Internal_protocol_status {
 public:
  using Internal_protocol_status::Internal_protocol_status;
  bool success() const override { return true; }
};

class Protocol_status_error : public Internal_protocol_status {
 public:
  using Internal_protocol_status::Internal_protocol_status;
  bool success() const override { return false; }
};

// What a family without layers answers when it is initialised.
class Protocol_initialize_error : public Protocol_status_error {
 public:
  using Protocol_status_error::Protocol_status_error;
};
