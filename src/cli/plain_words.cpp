#include "cli/plain_words.hpp"

#include <algorithm>

namespace pindrel::cli {
namespace {

constexpr char plain_mark = '\0';

// A word that a value option must not take as its value: CLI11 would take it whatever
// it is, so `run --base --dry-run` would silently lose its --dry-run. A negative number
// stays a value, for the conversion error to name it.
bool looks_like_option(std::string_view word) {
  return word.size() > 1 && word.front() == '-' && !(word[1] >= '0' && word[1] <= '9');
}

}  // namespace

std::string mark_plain(std::string_view word) { return std::string(1, plain_mark) + std::string(word); }

bool is_marked(std::string_view value) { return !value.empty() && value.front() == plain_mark; }

std::string unmark(std::string_view value) {
  if (is_marked(value)) value.remove_prefix(1);
  return std::string(value);
}

LineScan scan_line(const LineGrammar& grammar, std::span<const std::string> words) {
  LineScan scan;
  scan.options_end = words.size();
  std::string context;
  const auto takes_next = [&](std::size_t& i, const std::string& name) {
    if (i + 1 < words.size() && looks_like_option(words[i + 1])) {
      if (!scan.missing) scan.missing = MissingValue{context, name};
      return;
    }
    ++i;
  };
  for (std::size_t i = 0; i < words.size(); ++i) {
    const std::string& word = words[i];
    if (word == "--") {
      scan.options_end = i;
      break;
    }
    if (word.starts_with("--")) {
      const auto equals = word.find('=');
      const std::string name = word.substr(0, equals);
      if (!grammar.takes_value(context, name)) continue;
      if (equals == std::string::npos) {
        takes_next(i, name);
      } else if (equals + 1 == word.size()) {
        scan.empty_values.push_back(i);
      }
    } else if (word.size() > 1 && word.front() == '-') {
      for (std::size_t k = 1; k < word.size(); ++k) {
        const std::string name{'-', word[k]};
        if (grammar.takes_value(context, name)) {
          if (k + 1 == word.size()) takes_next(i, name);
          break;
        }
      }
    } else if (context.empty() && grammar.is_command(word)) {
      context = word;
    }
  }
  return scan;
}

std::vector<std::string> words_for_parser(std::span<const std::string> words, const LineScan& scan) {
  const std::size_t options_end = scan.options_end;
  std::vector<std::string> reversed;
  if (options_end < words.size()) {
    for (std::size_t i = words.size(); i-- > options_end + 1;) reversed.push_back(mark_plain(words[i]));
  }
  for (std::size_t i = options_end; i-- > 0;) {
    const std::string& word = words[i];
    if (std::ranges::find(scan.empty_values, i) != scan.empty_values.end()) {
      reversed.push_back(mark_plain(""));
      reversed.push_back(word.substr(0, word.size() - 1));
      continue;
    }
    const bool bracketed = word.size() >= 2 && word.front() == '[' && word.back() == ']';
    reversed.push_back(bracketed ? mark_plain(word) : word);
  }
  return reversed;
}

}  // namespace pindrel::cli
