#include "json/document.hpp"

#include "util/utf8.hpp"

#include <nlohmann/json.hpp>

#include <optional>

namespace pindrel::json {

std::size_t skip_white_space(std::string_view text, std::size_t offset) {
  while (offset < text.size()) {
    const char c = text[offset];
    if (c != ' ' && c != '\t' && c != '\n' && c != '\r') break;
    ++offset;
  }
  return offset;
}

std::string position_suffix(std::string_view text, std::size_t offset) {
  const std::string_view read = text.substr(0, offset);
  const std::size_t last_newline = read.rfind('\n');
  const std::size_t line_start = last_newline == std::string_view::npos ? 0 : last_newline + 1;
  std::size_t line = 1;
  for (std::size_t i = 0; i < line_start; ++i) {
    if (read[i] == '\n') ++line;
  }
  return " at line " + std::to_string(line) + " column " + std::to_string(offset - line_start);
}

namespace {

bool is_digit(char c) { return c >= '0' && c <= '9'; }

int hex_value(char c) {
  if (c >= '0' && c <= '9') return c - '0';
  if (c >= 'a' && c <= 'f') return c - 'a' + 10;
  if (c >= 'A' && c <= 'F') return c - 'A' + 10;
  return -1;
}

// A syntax fault: its message and the offset its position is reported at.
struct Fault {
  std::string_view message;
  std::size_t offset;
};

// What the grammar allows at the point where the parser stopped.
enum class Expect { value, object_first, after_key, object_next, array_first, array_next, nothing };

// Finds what is wrong with the text after the last token the parser accepted, and words it. The parser has
// already refused the text there; this only names the fault and its place.
class Diagnosis {
 public:
  explicit Diagnosis(std::string_view text) : text_(text) {}

  Fault after(Expect expect, std::size_t offset) const {
    const std::size_t p = skip_white_space(text_, offset);
    std::optional<Fault> fault;
    switch (expect) {
      case Expect::value:
      case Expect::nothing:
        fault = value(p);
        break;
      case Expect::object_first:
        if (p == size()) return {"EOF while parsing an object", p};
        if (text_[p] == '"') fault = string(p);
        else if (text_[p] != '}') return {"key must be a string", peeked(text_, p)};
        break;
      case Expect::after_key:
        if (p == size()) return {"EOF while parsing an object", p};
        if (text_[p] != ':') return {"expected `:`", peeked(text_, p)};
        fault = value(skip_white_space(text_, p + 1));
        break;
      case Expect::object_next:
        if (p == size()) return {"EOF while parsing an object", p};
        if (text_[p] == ',') {
          const std::size_t q = skip_white_space(text_, p + 1);
          if (q == size()) return {"EOF while parsing a value", q};
          if (text_[q] == '}') return {"trailing comma", peeked(text_, q)};
          if (text_[q] != '"') return {"key must be a string", peeked(text_, q)};
          fault = string(q);
        } else if (text_[p] != '}') {
          return {"expected `,` or `}`", peeked(text_, p)};
        }
        break;
      case Expect::array_first:
        if (p == size()) return {"EOF while parsing a list", p};
        if (text_[p] != ']') fault = value(p);
        break;
      case Expect::array_next:
        if (p == size()) return {"EOF while parsing a list", p};
        if (text_[p] == ',') {
          const std::size_t q = skip_white_space(text_, p + 1);
          if (q < size() && text_[q] == ']') return {"trailing comma", peeked(text_, q)};
          fault = value(q);
        } else if (text_[p] != ']') {
          return {"expected `,` or `]`", peeked(text_, p)};
        }
        break;
    }
    // The parser refuses nothing that the checks above accept; should it, the place is still right.
    return fault.value_or(Fault{"expected value", peeked(text_, p)});
  }

 private:
  std::size_t size() const { return text_.size(); }

  std::optional<Fault> value(std::size_t p) const {
    if (p == size()) return Fault{"EOF while parsing a value", p};
    switch (text_[p]) {
      case '"':
        return string(p);
      case 't':
        return literal(p, "true");
      case 'f':
        return literal(p, "false");
      case 'n':
        return literal(p, "null");
      case '[':
      case '{':
        return std::nullopt;
      default:
        if (text_[p] == '-' || is_digit(text_[p])) return number(p);
        return Fault{"expected value", peeked(text_, p)};
    }
  }

  std::optional<Fault> literal(std::size_t p, std::string_view word) const {
    std::size_t i = p + 1;
    for (const char expected : word.substr(1)) {
      if (i == size()) return Fault{"EOF while parsing a value", i};
      if (text_[i++] != expected) return Fault{"expected ident", i};
    }
    return std::nullopt;
  }

  std::optional<Fault> number(std::size_t p) const {
    std::size_t i = p;
    if (text_[i] == '-') ++i;
    if (i == size()) return Fault{"invalid number", i};
    const char first = text_[i++];
    if (first == '0') {
      if (i < size() && is_digit(text_[i])) return Fault{"invalid number", i + 1};
    } else if (is_digit(first)) {
      while (i < size() && is_digit(text_[i])) ++i;
    } else {
      return Fault{"invalid number", i};
    }
    if (i < size() && text_[i] == '.') {
      ++i;
      if (i == size()) return Fault{"EOF while parsing a value", i};
      if (!is_digit(text_[i])) return Fault{"invalid number", i + 1};
      while (i < size() && is_digit(text_[i])) ++i;
    }
    if (i < size() && (text_[i] == 'e' || text_[i] == 'E')) {
      ++i;
      if (i < size() && (text_[i] == '+' || text_[i] == '-')) ++i;
      if (i == size()) return Fault{"EOF while parsing a value", i};
      if (!is_digit(text_[i++])) return Fault{"invalid number", i};
      while (i < size() && is_digit(text_[i])) ++i;
    }
    // Well formed, so the parser refused its magnitude.
    return Fault{"number out of range", i};
  }

  // Reads four hexadecimal digits at `i`; a fault, or the code unit with `i` moved past them.
  std::optional<Fault> hex_escape(std::size_t& i, unsigned& unit) const {
    if (i + 4 > size()) return Fault{"EOF while parsing a string", size()};
    unit = 0;
    for (std::size_t k = 0; k < 4; ++k) {
      const int digit = hex_value(text_[i + k]);
      if (digit < 0) return Fault{"invalid escape", i + 4};
      unit = unit * 16 + static_cast<unsigned>(digit);
    }
    i += 4;
    return std::nullopt;
  }

  std::optional<Fault> string(std::size_t p) const {
    std::size_t i = p + 1;
    while (true) {
      if (i == size()) return Fault{"EOF while parsing a string", i};
      const auto c = static_cast<unsigned char>(text_[i]);
      if (c == '"') return std::nullopt;
      if (c < 0x20) return Fault{"control character (\\u0000-\\u001F) found while parsing a string", i + 1};
      if (c == '\\') {
        if (++i == size()) return Fault{"EOF while parsing a string", i};
        const char escape = text_[i++];
        if (std::string_view("\"\\/bfnrt").find(escape) != std::string_view::npos) continue;
        if (escape != 'u') return Fault{"invalid escape", i};
        unsigned unit = 0;
        if (auto fault = hex_escape(i, unit)) return fault;
        if (unit >= 0xDC00 && unit <= 0xDFFF) return Fault{"lone leading surrogate in hex escape", i};
        if (unit >= 0xD800 && unit <= 0xDBFF) {
          for (const char expected : {'\\', 'u'}) {
            if (i == size()) return Fault{"EOF while parsing a string", i};
            if (text_[i++] != expected) return Fault{"unexpected end of hex escape", i};
          }
          if (auto fault = hex_escape(i, unit)) return fault;
          if (unit < 0xDC00 || unit > 0xDFFF) return Fault{"lone leading surrogate in hex escape", i};
        }
        continue;
      }
      if (c < 0x80) {
        ++i;
        continue;
      }
      const std::size_t length = c >= 0xF0 ? 4 : c >= 0xE0 ? 3 : 2;
      if (i + length > size() || !is_valid_utf8(text_.substr(i, length))) {
        return Fault{"invalid unicode code point", i + 1};
      }
      i += length;
    }
  }

  std::string_view text_;
};

// Turns the parser's callbacks into events. The callbacks carry no positions, so each token's span is
// found again in the text: the parser has accepted it, which leaves only its length to measure.
class EventCollector {
 public:
  using Json = nlohmann::json;

  explicit EventCollector(std::string_view text) : text_(text) {}

  bool null() { return scalar(Event::Type::null, 4); }
  bool boolean(bool value) {
    if (!scalar(Event::Type::boolean, value ? 4 : 5)) return false;
    events_.back().boolean = value;
    return true;
  }
  bool number_integer(Json::number_integer_t value) { return number(static_cast<double>(value)); }
  bool number_unsigned(Json::number_unsigned_t value) { return number(static_cast<double>(value)); }
  bool number_float(Json::number_float_t value, const Json::string_t&) { return number(value); }
  bool string(Json::string_t& value) {
    push(Event::Type::string, string_end(token_start()));
    events_.back().text = std::move(value);
    after_value();
    return true;
  }
  bool binary(Json::binary_t&) { return false; }  // never produced from JSON text
  bool key(Json::string_t& value) {
    push(Event::Type::key, string_end(token_start()));
    events_.back().text = std::move(value);
    expect_ = Expect::after_key;
    return true;
  }
  bool start_object(std::size_t) { return open(Event::Type::begin_object, Expect::object_first); }
  bool start_array(std::size_t) { return open(Event::Type::begin_array, Expect::array_first); }
  bool end_object() { return close(Event::Type::end_object); }
  bool end_array() { return close(Event::Type::end_array); }
  bool parse_error(std::size_t, const std::string&, const nlohmann::detail::exception&) {
    fail_after(expect_);
    return false;
  }

  // Records the fault at the start of the text, where the parser would accept no value.
  void fail_at_start() { fail_after(Expect::value); }

  std::vector<Event> take() && { return std::move(events_); }

 private:
  // Between two tokens stand only white space and at most one separator.
  std::size_t token_start() const {
    std::size_t i = end_;
    while (i < text_.size() && std::string_view(" \t\n\r,:").find(text_[i]) != std::string_view::npos) ++i;
    return i;
  }

  std::size_t string_end(std::size_t start) const {
    std::size_t i = start + 1;
    while (text_[i] != '"') i += text_[i] == '\\' ? 2 : 1;
    return i + 1;
  }

  std::size_t number_end(std::size_t start) const {
    std::size_t i = start;
    const auto digits = [&] {
      while (i < text_.size() && is_digit(text_[i])) ++i;
    };
    if (text_[i] == '-') ++i;
    if (text_[i] == '0') ++i;
    else digits();
    if (i < text_.size() && text_[i] == '.') {
      ++i;
      digits();
    }
    if (i < text_.size() && (text_[i] == 'e' || text_[i] == 'E')) {
      ++i;
      if (text_[i] == '+' || text_[i] == '-') ++i;
      digits();
    }
    return i;
  }

  void push(Event::Type type, std::size_t end) {
    Event event;
    event.type = type;
    event.start = token_start();
    event.end = end;
    end_ = end;
    events_.push_back(std::move(event));
  }

  bool scalar(Event::Type type, std::size_t length) {
    push(type, token_start() + length);
    after_value();
    return true;
  }

  bool number(double value) {
    const std::size_t start = token_start();
    const std::size_t end = number_end(start);
    const std::string_view token = text_.substr(start, end - start);
    // The parser ends a number before a second leading digit ("01") and would take the digit as the
    // next token; the number itself is malformed.
    if (end < text_.size() && is_digit(text_[end])) {
      fail(Fault{"invalid number", end + 1});
      return false;
    }
    // "-0" has no integer reading: it is the real negative zero.
    const bool real = token.find_first_of(".eE") != std::string_view::npos || token == "-0";
    push(real ? Event::Type::real : Event::Type::integer, end);
    events_.back().real = token == "-0" ? -0.0 : value;
    after_value();
    return true;
  }

  bool open(Event::Type type, Expect inside) {
    const std::size_t start = token_start();
    push(type, start + 1);
    if (open_.size() == max_nesting) {
      fail(Fault{"recursion limit exceeded", peeked(text_, start)});
      return false;
    }
    open_.push_back(type);
    expect_ = inside;
    return true;
  }

  bool close(Event::Type type) {
    push(type, token_start() + 1);
    open_.pop_back();
    after_value();
    return true;
  }

  void after_value() {
    if (open_.empty()) expect_ = Expect::nothing;
    else expect_ = open_.back() == Event::Type::begin_object ? Expect::object_next : Expect::array_next;
  }

  void fail_after(Expect expect) { fail(Diagnosis(text_).after(expect, end_)); }

  void fail(Fault fault) {
    Event event;
    event.type = Event::Type::error;
    event.start = event.end = fault.offset;
    event.text = std::string(fault.message) + position_suffix(text_, fault.offset);
    events_.push_back(std::move(event));
  }

  std::string_view text_;
  std::size_t end_ = 0;  // just past the last token seen
  Expect expect_ = Expect::value;
  std::vector<Event::Type> open_;  // the containers entered and not yet closed
  std::vector<Event> events_;
};

}  // namespace

std::vector<Event> scan_events(std::string_view text) {
  EventCollector collector(text);
  // The parser skips a byte order mark; JSON text has none.
  if (text.starts_with("\xEF\xBB\xBF")) {
    collector.fail_at_start();
  } else {
    nlohmann::json::sax_parse(text.begin(), text.end(), &collector, nlohmann::json::input_format_t::json,
                              /*strict=*/false, /*ignore_comments=*/false);
  }
  return std::move(collector).take();
}

}  // namespace pindrel::json
