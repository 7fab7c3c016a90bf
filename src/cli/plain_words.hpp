#pragma once

// Words that CLI11 must take as plain words reach it behind a NUL, which no process
// argument can contain. Two habits of CLI11 call for it: it splits a list value written
// "[a,b]" into "a" and "b", and a "--" ends a command once its positionals have their
// minimum, leaving the words after it to the root's options. So the words after the
// options' end are handed over marked, without their "--". Every value is unmarked before
// use, and an error that quotes words CLI11 was given is rebuilt from unmarked words: an
// error's text would end at the NUL.
#include <cstddef>
#include <functional>
#include <optional>
#include <span>
#include <string>
#include <string_view>
#include <vector>

namespace pindrel::cli {

std::string mark_plain(std::string_view word);
bool is_marked(std::string_view value);
std::string unmark(std::string_view value);

// What the scan needs to know of the definition: whether a word names a command, and
// whether an option of a command ("" for the root) takes a value.
struct LineGrammar {
  std::function<bool(std::string_view word)> is_command;
  std::function<bool(std::string_view command, std::string_view option)> takes_value;
};

// A value option followed by no value, and the command ("" for the root) it was given to.
struct MissingValue {
  std::string command;
  std::string option;
};

struct LineScan {
  std::size_t options_end = 0;            // the "--" that ends the options, or the word count
  std::vector<std::size_t> empty_values;  // "--name=" of an option that takes a value
  std::optional<MissingValue> missing;    // the first one
};

// Finds the "--" that ends the options (the first one that is no option's value), the
// options written with an empty value after "=" (CLI11 would take the next word
// instead), and the first value option followed by no value.
LineScan scan_line(const LineGrammar& grammar, std::span<const std::string> words);

// The words as CLI11 takes them, last first: the words after the options' end marked and
// without their "--", an empty "--name=" value as a marked empty word, and a bracketed
// word marked so that it stays one word.
std::vector<std::string> words_for_parser(std::span<const std::string> words, const LineScan& scan);

}  // namespace pindrel::cli
