#pragma once
// The statistics page: an HTML template copied from an input stream to an
// output stream, with
//   %name%                   replaced by the value "name" of the innermost
//                            node that has one (left as it stands when none
//                            has; "%%" stays "%%"),
//   <!--GEN.name--> ... <!--GEN.end-->
//                            a section: produced once per element of the
//                            current node's list "name", or once on its
//                            child node "name", or dropped when it has
//                            neither (or the list is empty).
// Section marks are never copied. Inside any other tag ("<" to ">") text is
// copied as it stands. Sections nest; a list section rereads its text from
// the input for each element, so the input must be seekable.
#include <iosfwd>
#include <string>
#include <vector>

#include "monitoring/stat_object.h"

namespace Stat {
namespace Html {

class GeneratorV1 {
 public:
  GeneratorV1(Object& root, std::ostream& out, std::istream& in);

  // Writes the page. False when a list section had more than one element but
  // the input could not be reread (the section is then produced once).
  bool generate();

 private:
  enum TokenType { token_section = 0, token_value = 1, token_end = 2 };
  using State = void (GeneratorV1::*)(char);

  void generate_body();
  TokenType parse();
  void section(std::string name);  // a copy: parsing the body moves the token on
  void sub_object(Object& obj);
  void sub_object(const std::string& name);
  void ignore_object();
  void value(const std::string& name);
  void put(char c);
  void put(const std::string& text);

  void next_input(State s);
  void next_output(State s);
  void next_state(State input, State output);
  void on_change_output_state();
  void put_captured();
  void end_of_input();

  void pinput_initial(char c);
  void pinput_section_open(char c);
  void pinput_section_body(char c);
  void pinput_section_comment1(char c);
  void pinput_section_comment2(char c);
  void pinput_section_obj_begin1(char c);
  void pinput_section_obj_begin2(char c);
  void pinput_section_obj_begin3(char c);
  void pinput_section_obj_begin4(char c);
  void pinput_section_obj_name(char c);
  void pinput_section_obj_name_end1(char c);
  void pinput_section_obj_name_end2(char c);
  void pinput_value_open(char c);
  void pinput_value_body(char c);
  void pinput_delayed_initial(char c);
  // Leaves a section mark that turned out to be ordinary text.
  void not_a_mark();
  // The mark goes on to state next when c is the expected character.
  void mark_goes_on(char c, char expected, State next);

  void poutput_pass(char c);
  void poutput_capture(char c);

  Object& root_;
  std::ostream& out_;
  std::istream& in_;
  std::vector<Object*> objects_;  // the root at the bottom
  Object* current_;
  int ignore_depth_ = 0;
  State input_ = &GeneratorV1::pinput_initial;
  State output_ = &GeneratorV1::poutput_pass;
  TokenType token_type_ = token_end;
  std::string token_text_;
  bool token_complete_ = false;
  std::string capture_;
  bool at_end_ = false;
  bool reread_failed_ = false;
};

// Runs a generator over the template; returns its result.
bool generateV1(Object& root, std::ostream& out, std::istream& in);

}  // namespace Html
}  // namespace Stat
