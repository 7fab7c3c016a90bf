#pragma once

// The lowest level of JSON reading: the parser's tokens in document order, one at a time, each
// placed by the bytes the lexer has consumed, so that readers can place every message and see
// repeated keys. A syntax error is not returned ahead of time but comes as the token where it
// stands: a reader that stops earlier, on a fault of its own, reports that fault first, just as a
// reader working through the text from the front would.

#include <cstddef>
#include <cstdint>
#include <memory>
#include <string>
#include <string_view>

namespace pindrel::json {

// Containers may nest this deep; one level more is refused.
inline constexpr std::size_t max_nesting = 128;

struct Event {
  enum class Type : std::uint8_t {
    begin_object,
    end_object,
    begin_array,
    end_array,
    key,
    string,
    integer,  // a number without fraction or exponent, of any size; its digits are the token's text
    real,
    boolean,
    null,
    error,  // a syntax fault; nothing follows it
  };

  Type type = Type::null;
  bool boolean = false;
  double real = 0;      // a number's value; an integer's beyond 64 bits is its nearest real
  std::size_t end = 0;  // byte offset just past the token's last character
  std::string text;     // a key's or string's decoded value; an error's message with its position
};

// The byte offset of the first character of `event`, a token of `text` other than a key or string.
std::size_t token_start(std::string_view text, const Event& event);

// The tokens of the first JSON value in `text`, read on demand. Whatever follows that value is
// left unread.
class Tokens {
 public:
  explicit Tokens(std::string_view text);
  ~Tokens();
  Tokens(const Tokens&) = delete;
  Tokens& operator=(const Tokens&) = delete;

  // Overwrites `event` with the next token; after a syntax fault, with that fault again.
  void next(Event& event);

  // Whether the first value has been read whole.
  bool complete() const;

 private:
  class Scanner;
  std::unique_ptr<Scanner> scanner_;
};

// " at line {} column {}" for the place reached after reading the first `offset` bytes of `text`: the
// line is 1-based, the column counts the bytes already read on that line.
std::string position_suffix(std::string_view text, std::size_t offset);

// The place of a fault found at the character at `offset`, which counts as read.
inline std::size_t peeked(std::string_view text, std::size_t offset) {
  return offset < text.size() ? offset + 1 : text.size();
}

// The offset of the first byte at or after `offset` that is not JSON white space.
std::size_t skip_white_space(std::string_view text, std::size_t offset);

}  // namespace pindrel::json
