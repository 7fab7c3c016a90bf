#include "json/document.hpp"

#include "util/utf8.hpp"

#include <nlohmann/json.hpp>

#include <cassert>
#include <cmath>
#include <optional>
#include <vector>

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
      case Expect::nothing: fault = value(p); break;
      case Expect::object_first:
        if (p == size()) return {"EOF while parsing an object", p};
        if (text_[p] == '"')
          fault = string(p);
        else if (text_[p] != '}')
          return {"key must be a string", peeked(text_, p)};
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
      case '"': return string(p);
      case 't': return literal(p, "true");
      case 'f': return literal(p, "false");
      case 'n': return literal(p, "null");
      case '[':
      case '{': return std::nullopt;
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
      const Utf8Step step = utf8_step(text_, i);
      if (!step.valid) return Fault{"invalid unicode code point", i + 1};
      i += step.length;
    }
  }

  std::string_view text_;
};

bool is_number_character(char c) { return is_digit(c) || c == '-' || c == '+' || c == '.' || c == 'e' || c == 'E'; }

}  // namespace

std::size_t token_start(std::string_view text, const Event& event) {
  switch (event.type) {
    case Event::Type::null: return event.end - 4;
    case Event::Type::boolean: return event.end - (event.boolean ? 4 : 5);
    case Event::Type::integer:
    case Event::Type::real: {
      // A number stands after white space or a separator, none of which can be part of it.
      std::size_t start = event.end;
      while (start > 0 && is_number_character(text[start - 1])) --start;
      return start;
    }
    default: return event.end - 1;  // a bracket or a brace
  }
}

// nlohmann's lexer cuts the text into tokens; this checks their order against the grammar, the
// nesting limit included, and keeps the place of each. What the lexer has consumed is where a
// token ends: it counts every byte it takes and gives back the one it looked ahead past a number.
class Tokens::Scanner {
 public:
  using Json = nlohmann::json;
  using Adapter = nlohmann::detail::iterator_input_adapter<const char*>;
  using Lexer = nlohmann::detail::lexer<Json, Adapter>;
  using Token = Lexer::token_type;

  explicit Scanner(std::string_view text)
      : text_(text), lexer_(Adapter(text.data(), text.data() + text.size()), /*ignore_comments=*/false) {
    // The lexer skips a byte order mark; JSON text has none.
    if (text.starts_with("\xEF\xBB\xBF")) fail(Diagnosis(text_).after(Expect::value, 0));
  }

  void next(Event& event) {
    if (fault_) return fault(event);
    switch (expect_) {
      case Expect::value: return value(scan(), event);
      case Expect::object_first:
      case Expect::object_next: {
        Token token = scan();
        if (token == Token::end_object) return close(Event::Type::end_object, event);
        if (expect_ == Expect::object_next) {
          if (token != Token::value_separator) return refuse(event);
          token = scan();
        }
        if (token != Token::value_string) return refuse(event);
        emit(Event::Type::key, event);
        event.text.swap(lexer_.get_string());
        expect_ = Expect::after_key;
        return;
      }
      case Expect::after_key:
        if (scan() != Token::name_separator) return refuse(event);
        return value(scan(), event);
      case Expect::array_first:
      case Expect::array_next: {
        Token token = scan();
        if (token == Token::end_array) return close(Event::Type::end_array, event);
        if (expect_ == Expect::array_next) {
          if (token != Token::value_separator) return refuse(event);
          token = scan();
        }
        return value(token, event);
      }
      case Expect::nothing: break;
    }
    assert(false && "read past the end of the value");
  }

  bool complete() const { return expect_ == Expect::nothing && !fault_; }

 private:
  Token scan() { return lexer_.scan(); }
  std::size_t consumed() const { return lexer_.get_position().chars_read_total; }

  void emit(Event::Type type, Event& event) {
    event.type = type;
    event.end = end_ = consumed();
  }

  void value(Token token, Event& event) {
    switch (token) {
      case Token::begin_object: return open(Event::Type::begin_object, Expect::object_first, event);
      case Token::begin_array: return open(Event::Type::begin_array, Expect::array_first, event);
      case Token::value_string:
        emit(Event::Type::string, event);
        event.text.swap(lexer_.get_string());
        break;
      case Token::literal_null: emit(Event::Type::null, event); break;
      case Token::literal_true:
      case Token::literal_false:
        emit(Event::Type::boolean, event);
        event.boolean = token == Token::literal_true;
        break;
      case Token::value_unsigned:
      case Token::value_integer:
      case Token::value_float:
        if (!number(token, event)) return;
        break;
      default: return refuse(event);
    }
    after_value();
  }

  bool number(Token token, Event& event) {
    const std::size_t end = consumed();
    // The lexer ends a number before a second leading digit ("01") and would take the digit
    // as the next token; the number itself is malformed.
    if (end < text_.size() && is_digit(text_[end])) {
      fail(Fault{"invalid number", end + 1});
      fault(event);
      return false;
    }
    if (token == Token::value_float && !std::isfinite(lexer_.get_number_float())) {
      refuse(event);
      return false;
    }
    emit(Event::Type::integer, event);
    const std::size_t start = token_start(text_, event);
    const std::string_view digits = text_.substr(start, end - start);
    switch (token) {
      case Token::value_unsigned: event.real = static_cast<double>(lexer_.get_number_unsigned()); break;
      case Token::value_integer: event.real = static_cast<double>(lexer_.get_number_integer()); break;
      default: event.real = lexer_.get_number_float(); break;
    }
    // "-0" has no integer reading: it is the real negative zero.
    if (digits == "-0") event.real = -0.0;
    if (digits == "-0" || digits.find_first_of(".eE") != std::string_view::npos) event.type = Event::Type::real;
    return true;
  }

  void open(Event::Type type, Expect inside, Event& event) {
    emit(type, event);
    // The opening bracket is a token of its own; the refusal comes with the next one.
    if (open_.size() == max_nesting) {
      fail(Fault{"recursion limit exceeded", peeked(text_, end_ - 1)});
      return;
    }
    open_.push_back(type == Event::Type::begin_object);
    expect_ = inside;
  }

  void close(Event::Type type, Event& event) {
    emit(type, event);
    open_.pop_back();
    after_value();
  }

  void after_value() {
    if (open_.empty())
      expect_ = Expect::nothing;
    else
      expect_ = open_.back() ? Expect::object_next : Expect::array_next;
  }

  // The lexer or the grammar refused what follows the last token: word the fault from there.
  void refuse(Event& event) {
    fail(Diagnosis(text_).after(expect_, end_));
    fault(event);
  }

  void fail(Fault found) {
    fault_ = true;
    fault_text_ = std::string(found.message) + position_suffix(text_, found.offset);
    fault_offset_ = found.offset;
  }

  void fault(Event& event) const {
    event.type = Event::Type::error;
    event.end = fault_offset_;
    event.text = fault_text_;
  }

  std::string_view text_;
  Lexer lexer_;
  std::size_t end_ = 0;  // just past the last token
  Expect expect_ = Expect::value;
  std::vector<bool> open_;  // the containers entered and not yet closed: true for an object
  bool fault_ = false;
  std::string fault_text_;
  std::size_t fault_offset_ = 0;
};

Tokens::Tokens(std::string_view text) : scanner_(std::make_unique<Scanner>(text)) {}
Tokens::~Tokens() = default;
void Tokens::next(Event& event) { scanner_->next(event); }
bool Tokens::complete() const { return scanner_->complete(); }

}  // namespace pindrel::json
