#pragma once

// The lowest level of JSON reading: the parser's tokens in document order, each with its byte span, so
// that readers can place every message and see repeated keys. A syntax error is not returned at once but
// becomes the last token: a reader that stops earlier, on a fault of its own, reports that fault first,
// just as a reader working through the text from the front would.

#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

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
  double real = 0;
  std::size_t start = 0;  // byte offset of the token's first character
  std::size_t end = 0;    // byte offset just past its last
  std::string text;       // a key's or string's decoded value; an error's message with its position
};

// The tokens of the first JSON value in `text`. Whatever follows that value is left unread.
std::vector<Event> scan_events(std::string_view text);

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
