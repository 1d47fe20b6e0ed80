#include "monitoring/stat_html_generator.h"

#include <istream>
#include <ostream>

namespace Stat {
namespace Html {

namespace {

// The node a dropped section runs on: it has nothing, so everything inside
// is dropped too.
class NoStatistics : public Object {
 public:
  Value statistics_value(const std::string&) const override { return Value(); }
  Object* statistics_object(const std::string&) const override { return nullptr; }
  std::unique_ptr<IteratorBase> statistics_iterator(const std::string&) const override { return nullptr; }
};

constexpr char section_end[] = "end";

}  // namespace

GeneratorV1::GeneratorV1(Object& root, std::ostream& out, std::istream& in)
    : root_(root), out_(out), in_(in), current_(&root) {}

bool generateV1(Object& root, std::ostream& out, std::istream& in) { return GeneratorV1(root, out, in).generate(); }

bool GeneratorV1::generate() {
  objects_.push_back(&root_);
  current_ = &root_;
  // An end mark with no section open closes nothing: the page goes on.
  do generate_body();
  while (!at_end_);
  objects_.pop_back();
  return !reread_failed_;
}

void GeneratorV1::generate_body() {
  for (;;) {
    switch (parse()) {
      case token_end:
        return;
      case token_section:
        if (token_text_ == section_end) return;
        section(token_text_);
        break;
      case token_value:
        value(token_text_);
        break;
    }
  }
}

void GeneratorV1::section(std::string name) {
  std::unique_ptr<IteratorBase> it = current_->statistics_iterator(name);
  if (!it) {
    sub_object(name);
    return;
  }
  if (!it->valid()) {
    ignore_object();
    return;
  }
  const std::istream::pos_type start = in_.tellg();
  sub_object(it->object());
  if (!it->next()) return;
  while (it->valid()) {
    in_.clear();
    if (start == std::istream::pos_type(-1) || !in_.seekg(start)) {
      in_.clear();
      reread_failed_ = true;
      return;
    }
    at_end_ = false;
    sub_object(it->object());
    it->next();
  }
}

void GeneratorV1::sub_object(Object& obj) {
  objects_.push_back(&obj);
  current_ = &obj;
  generate_body();
  objects_.pop_back();
  current_ = objects_.back();
}

void GeneratorV1::sub_object(const std::string& name) {
  if (Object* child = current_->statistics_object(name))
    sub_object(*child);
  else
    ignore_object();
}

void GeneratorV1::ignore_object() {
  static NoStatistics nothing;
  ++ignore_depth_;
  sub_object(nothing);
  --ignore_depth_;
}

void GeneratorV1::value(const std::string& name) {
  for (auto o = objects_.rbegin(); o != objects_.rend(); ++o) {
    const Value v = (*o)->statistics_value(name);
    if (v) {
      put(v.text);
      return;
    }
  }
  put(capture_);
}

void GeneratorV1::put(char c) {
  if (ignore_depth_ == 0) out_.put(c);
}

void GeneratorV1::put(const std::string& text) {
  if (ignore_depth_ == 0) out_ << text;
}

// The lexer. Each character goes to the input state, which recognises
// tokens, and then to the output state, which copies it or holds it back
// while it may still be part of a token.

GeneratorV1::TokenType GeneratorV1::parse() {
  token_complete_ = false;
  char c;
  while (in_.get(c)) {
    (this->*input_)(c);
    (this->*output_)(c);
    if (token_complete_) return token_type_;
  }
  end_of_input();
  return token_end;
}

void GeneratorV1::end_of_input() {
  at_end_ = true;
  // Text held back for a token the input ended inside of is text after all.
  if (input_ != &GeneratorV1::pinput_delayed_initial) put_captured();
  next_state(&GeneratorV1::pinput_initial, &GeneratorV1::poutput_pass);
}

void GeneratorV1::next_input(State s) { input_ = s; }

void GeneratorV1::next_output(State s) {
  const bool leaves_capture = output_ == &GeneratorV1::poutput_capture && s != &GeneratorV1::poutput_capture;
  output_ = s;
  if (leaves_capture) on_change_output_state();
}

void GeneratorV1::next_state(State input, State output) {
  next_input(input);
  next_output(output);
}

void GeneratorV1::on_change_output_state() { capture_.clear(); }

void GeneratorV1::put_captured() { put(capture_); }

void GeneratorV1::pinput_initial(char c) {
  if (c == '<')
    next_state(&GeneratorV1::pinput_section_open, &GeneratorV1::poutput_capture);
  else if (c == '%')
    next_state(&GeneratorV1::pinput_value_open, &GeneratorV1::poutput_capture);
}

void GeneratorV1::not_a_mark() {
  put_captured();
  next_state(&GeneratorV1::pinput_section_body, &GeneratorV1::poutput_pass);
}

void GeneratorV1::mark_goes_on(char c, char expected, State next) {
  if (c == expected)
    next_input(next);
  else
    not_a_mark();
}

void GeneratorV1::pinput_section_open(char c) { mark_goes_on(c, '!', &GeneratorV1::pinput_section_comment1); }

void GeneratorV1::pinput_section_body(char c) {
  if (c == '>') next_input(&GeneratorV1::pinput_initial);
}

void GeneratorV1::pinput_section_comment1(char c) { mark_goes_on(c, '-', &GeneratorV1::pinput_section_comment2); }

void GeneratorV1::pinput_section_comment2(char c) {
  if (c != '-') return not_a_mark();
  token_type_ = token_section;
  token_text_.clear();
  next_input(&GeneratorV1::pinput_section_obj_begin1);
}

void GeneratorV1::pinput_section_obj_begin1(char c) { mark_goes_on(c, 'G', &GeneratorV1::pinput_section_obj_begin2); }
void GeneratorV1::pinput_section_obj_begin2(char c) { mark_goes_on(c, 'E', &GeneratorV1::pinput_section_obj_begin3); }
void GeneratorV1::pinput_section_obj_begin3(char c) { mark_goes_on(c, 'N', &GeneratorV1::pinput_section_obj_begin4); }
void GeneratorV1::pinput_section_obj_begin4(char c) { mark_goes_on(c, '.', &GeneratorV1::pinput_section_obj_name); }

void GeneratorV1::pinput_section_obj_name(char c) {
  if (c == '-')
    next_input(&GeneratorV1::pinput_section_obj_name_end1);
  else
    token_text_ += c;
}

void GeneratorV1::pinput_section_obj_name_end1(char c) {
  if (c == '-') {
    next_input(&GeneratorV1::pinput_section_obj_name_end2);
  } else {
    token_text_ += '-';
    token_text_ += c;
    next_input(&GeneratorV1::pinput_section_obj_name);
  }
}

void GeneratorV1::pinput_section_obj_name_end2(char c) {
  if (c != '>') return;
  token_complete_ = true;
  next_input(&GeneratorV1::pinput_delayed_initial);
}

void GeneratorV1::pinput_value_open(char c) {
  if (c == '%') {
    put('%');
    next_state(&GeneratorV1::pinput_initial, &GeneratorV1::poutput_pass);
    return;
  }
  token_type_ = token_value;
  token_text_.assign(1, c);
  next_input(&GeneratorV1::pinput_value_body);
}

void GeneratorV1::pinput_value_body(char c) {
  if (c == '%') {
    token_complete_ = true;
    next_input(&GeneratorV1::pinput_delayed_initial);
  } else {
    token_text_ += c;
  }
}

void GeneratorV1::pinput_delayed_initial(char c) {
  next_state(&GeneratorV1::pinput_initial, &GeneratorV1::poutput_pass);
  pinput_initial(c);
}

void GeneratorV1::poutput_pass(char c) { put(c); }

void GeneratorV1::poutput_capture(char c) { capture_ += c; }

}  // namespace Html
}  // namespace Stat
