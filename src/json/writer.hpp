#pragma once

// The pretty layout of the program's JSON: every member and element on a line of its own, two spaces
// deeper per level, ": " after a key, "[]" and "{}" when empty, no newline after the last bracket.
// Members come out in the order they are written. The one writer of that layout: the reports write
// through it in their own order, and a value tree (value.hpp) is written through it in key order.

#include "util/u128.hpp"

#include <string>
#include <string_view>
#include <vector>

namespace pindrel::json {

// Appends `text` as a JSON string: quote and backslash escaped, \b \f \n \r \t, other characters below
// U+0020 as \u00XX in lower case, everything else as is. Invalid UTF-8 becomes U+FFFD, so the output is
// always valid JSON.
void append_quoted(std::string& out, std::string_view text);

class PrettyWriter {
 public:
  PrettyWriter() = default;

  PrettyWriter& begin_object();
  PrettyWriter& end_object();
  PrettyWriter& begin_array();
  PrettyWriter& end_array();
  // The key of the next member of the open object; its value is written next.
  PrettyWriter& key(std::string_view name);
  PrettyWriter& string(std::string_view text);
  PrettyWriter& number(u128 value);
  PrettyWriter& null() { return token("null"); }
  // A number, true, false or null given as its JSON text.
  PrettyWriter& token(std::string_view json_text);

  // A member whose value is a string, or an array of strings.
  PrettyWriter& member(std::string_view name, std::string_view text) { return key(name).string(text); }
  PrettyWriter& strings(std::string_view name, const std::vector<std::string>& list);

  const std::string& text() const { return out_; }
  std::string take() && { return std::move(out_); }

 private:
  struct Level {
    char closing;
    bool empty = true;
  };

  void before_value();
  // The separator and line break before the open container's next member or element.
  void next_entry();
  void new_line();
  PrettyWriter& open(char opening, char closing);
  PrettyWriter& close(char closing);

  std::string out_;
  std::vector<Level> levels_;
  bool after_key_ = false;
};

}  // namespace pindrel::json
