#pragma once

#include <filesystem>
#include <optional>
#include <string>
#include <string_view>

namespace pindrel {

bool is_valid_utf8(std::string_view bytes);

// Where the first invalid UTF-8 sequence starts and how long it is; no length when the
// input ends inside a sequence that could still have been completed.
struct Utf8Failure {
  std::size_t valid_up_to = 0;
  std::optional<std::size_t> error_len;
};
std::optional<Utf8Failure> first_utf8_failure(std::string_view bytes);

// `bytes` as text: each invalid UTF-8 sequence (its maximal prefix) becomes U+FFFD.
std::string lossy_utf8(std::string_view bytes);

// The scalar values of `bytes`, each invalid UTF-8 sequence (its maximal prefix) as U+FFFD.
std::u32string code_points(std::string_view bytes);

// A path as shown in messages: its bytes, with invalid UTF-8 replaced.
std::string display_path(const std::filesystem::path& path);

// Number of Unicode scalar values in UTF-8 text.
std::size_t scalar_count(std::string_view text);

// The sequence that starts at byte `i` (before the end): a valid character, or an invalid
// sequence's maximal prefix (at least one byte), which lossy decoding turns into one U+FFFD.
struct Utf8Step {
  std::size_t length = 0;
  bool valid = false;
};
Utf8Step utf8_step(std::string_view bytes, std::size_t i);

// Whether byte `i` of `text` begins a character, that is, is no continuation byte; the end
// of the text is a boundary too.
bool is_char_boundary(std::string_view text, std::size_t i);

// `text` without the Unicode white space (the White_Space property) at both ends.
std::string_view trim_white_space(std::string_view text);
// Whether `text` holds nothing but Unicode white space.
bool is_blank(std::string_view text);
// `text` without the Unicode white space at its end.
std::string_view trim_white_space_end(std::string_view text);

// Removes the next line from `text` and returns it without its "\n" or "\r\n"; a last
// line without a line feed counts too.
std::string_view take_line(std::string_view& text);

// A text as messages quote it: in double quotes, with quotes, backslashes and control
// characters escaped so that the message stays on one line, and each byte that is not
// UTF-8 written as \xHH.
std::string debug_quoted(std::string_view text);

}  // namespace pindrel
