#include "json/writer.hpp"

#include "util/utf8.hpp"

#include <cassert>

namespace pindrel::json {

void append_quoted(std::string& out, std::string_view text) {
  std::string repaired;
  if (!is_valid_utf8(text)) {
    repaired = lossy_utf8(text);
    text = repaired;
  }
  static constexpr char hex[] = "0123456789abcdef";
  out += '"';
  for (const char c : text) {
    switch (c) {
      case '"': out += "\\\""; break;
      case '\\': out += "\\\\"; break;
      case '\b': out += "\\b"; break;
      case '\f': out += "\\f"; break;
      case '\n': out += "\\n"; break;
      case '\r': out += "\\r"; break;
      case '\t': out += "\\t"; break;
      default:
        if (static_cast<unsigned char>(c) < 0x20) {
          out += "\\u00";
          out += hex[static_cast<unsigned char>(c) >> 4];
          out += hex[static_cast<unsigned char>(c) & 0xF];
        } else {
          out += c;
        }
    }
  }
  out += '"';
}

void PrettyWriter::new_line() {
  out_ += '\n';
  out_.append(2 * levels_.size(), ' ');
}

void PrettyWriter::before_value() {
  if (after_key_) {
    after_key_ = false;
    return;
  }
  if (levels_.empty()) {
    assert(out_.empty() && "a document holds one value");
    return;
  }
  assert(levels_.back().closing == ']' && "an object's member needs a key first");
  next_entry();
}

void PrettyWriter::next_entry() {
  Level& level = levels_.back();
  if (!level.empty) out_ += ',';
  level.empty = false;
  new_line();
}

PrettyWriter& PrettyWriter::key(std::string_view name) {
  assert(!levels_.empty() && levels_.back().closing == '}' && !after_key_);
  next_entry();
  append_quoted(out_, name);
  out_ += ": ";
  after_key_ = true;
  return *this;
}

PrettyWriter& PrettyWriter::open(char opening, char closing) {
  before_value();
  out_ += opening;
  levels_.push_back({closing});
  return *this;
}

PrettyWriter& PrettyWriter::close(char closing) {
  assert(!levels_.empty() && levels_.back().closing == closing && !after_key_);
  const bool empty = levels_.back().empty;
  levels_.pop_back();
  if (!empty) new_line();
  out_ += closing;
  return *this;
}

PrettyWriter& PrettyWriter::begin_object() { return open('{', '}'); }
PrettyWriter& PrettyWriter::end_object() { return close('}'); }
PrettyWriter& PrettyWriter::begin_array() { return open('[', ']'); }
PrettyWriter& PrettyWriter::end_array() { return close(']'); }

PrettyWriter& PrettyWriter::string(std::string_view text) {
  before_value();
  append_quoted(out_, text);
  return *this;
}

PrettyWriter& PrettyWriter::number(u128 value) {
  before_value();
  out_ += to_decimal(value);
  return *this;
}

PrettyWriter& PrettyWriter::token(std::string_view json_text) {
  before_value();
  out_ += json_text;
  return *this;
}

PrettyWriter& PrettyWriter::strings(std::string_view name, const std::vector<std::string>& list) {
  key(name).begin_array();
  for (const std::string& text : list) string(text);
  return end_array();
}

}  // namespace pindrel::json
