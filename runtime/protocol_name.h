#pragma once
// Names by which a protocol stack finds one of its layers.
#include <string>

class Protocol_name {
 public:
  virtual ~Protocol_name() = default;
  virtual int kind() const = 0;
  virtual const char* name() const = 0;
  virtual bool compare(const Protocol_name& other) const = 0;
};

// The name of a layer that has none; equal to any other null name.
class Protocol_name_null : public Protocol_name {
 public:
  int kind() const override { return 0; }
  const char* name() const override { return "(no name)"; }
  bool compare(const Protocol_name& other) const override { return other.kind() == 0; }
};

// A fixed text; equal to another text name with the same bytes.
class Protocol_name_str : public Protocol_name {
 public:
  explicit Protocol_name_str(const char* text) : text_(text ? text : "(no name)") {}
  int kind() const override { return 1; }
  const char* name() const override { return text_.c_str(); }
  bool compare(const Protocol_name& other) const override;

 private:
  std::string text_;
};

// What a layer tells about itself. Layers that want to be found by name
// override both members.
class Protocol_info {
 public:
  virtual ~Protocol_info() = default;
  virtual bool compare_name(const Protocol_name&) const { return false; }
  virtual const Protocol_name& name() const { return null_name_; }

 private:
  Protocol_name_null null_name_;
};
