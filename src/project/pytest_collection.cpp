#include "project/pytest_collection.hpp"

#include "project/modpath.hpp"
#include "util/utf8.hpp"

#include <algorithm>
#include <optional>

namespace pindrel {
namespace {

// The set of a `[...]` starting at `at`, and the index after it; none when it never closes,
// so that the "[" stands for itself.
struct CharClass {
  std::u32string members;  // single characters, and ranges as a "-" between two of them
  bool negated = false;
  std::size_t end = 0;
};

std::optional<CharClass> read_class(const std::u32string& pattern, std::size_t at) {
  CharClass set;
  std::size_t i = at + 1;
  if (i < pattern.size() && pattern[i] == U'!') {
    set.negated = true;
    ++i;
  }
  const std::size_t first = i;
  // A "]" first in the set is a member, not its end.
  while (i < pattern.size() && (pattern[i] != U']' || i == first)) ++i;
  if (i >= pattern.size()) return std::nullopt;
  set.members = pattern.substr(first, i - first);
  set.end = i + 1;
  return set;
}

bool in_class(const CharClass& set, char32_t c) {
  bool found = false;
  const std::u32string& m = set.members;
  for (std::size_t i = 0; i < m.size() && !found; ++i) {
    if (i + 2 < m.size() && m[i + 1] == U'-') {
      found = m[i] <= c && c <= m[i + 2];
      i += 2;
    } else {
      found = m[i] == c;
    }
  }
  return found != set.negated;
}

// Whether the step of `pattern` at `p` (not a `*`) matches the character `c`; moves `p` past it.
bool step_matches(const std::u32string& pattern, std::size_t& p, char32_t c) {
  if (pattern[p] == U'?') {
    ++p;
    return true;
  }
  if (pattern[p] == U'[') {
    if (const auto set = read_class(pattern, p)) {
      p = set->end;
      return in_class(*set, c);
    }
  }
  return pattern[p++] == c;
}

bool matches_prefix_or_glob(std::string_view name, const std::vector<std::string>& options) {
  return std::ranges::any_of(options, [name](const std::string& option) {
    if (name.starts_with(option)) return true;
    return option.find_first_of("*?[") != std::string::npos && fnmatch_glob(option, name);
  });
}

}  // namespace

bool fnmatch_glob(std::string_view pattern_bytes, std::string_view text_bytes) {
  const std::u32string pattern = code_points(pattern_bytes);
  const std::u32string text = code_points(text_bytes);
  std::size_t p = 0;
  std::size_t t = 0;
  // The last `*` seen, and the text position it is tried from next.
  std::optional<std::size_t> star;
  std::size_t star_text = 0;
  while (t < text.size()) {
    if (p < pattern.size() && pattern[p] == U'*') {
      star = ++p;
      star_text = t;
      continue;
    }
    std::size_t next = p;
    if (p < pattern.size() && step_matches(pattern, next, text[t])) {
      p = next;
      ++t;
      continue;
    }
    if (!star) return false;
    p = *star;
    t = ++star_text;
  }
  while (p < pattern.size() && pattern[p] == U'*') ++p;
  return p == pattern.size();
}

bool is_collectible_test_file(std::string_view text, const PytestSettings& settings) {
  const std::string_view name = text.substr(text.rfind('/') + 1);
  if (name == "conftest.py") return false;
  if (!settings.python_files) return is_test_file_name(text, ExtensionCase::exact);
  if (!has_py_extension(text, ExtensionCase::exact)) return false;
  return std::ranges::any_of(*settings.python_files, [&](const std::string& pattern) {
    // A pattern with a "/" is matched against the whole path, as pytest matches it against
    // the absolute one with "*/" in front.
    if (pattern.find('/') == std::string::npos) return fnmatch_glob(pattern, name);
    return fnmatch_glob("*/" + pattern, "/" + std::string(text));
  });
}

bool collects_class_name(std::string_view name, const PytestSettings& settings) {
  static const std::vector<std::string> builtin = {"Test"};
  return matches_prefix_or_glob(name, settings.python_classes ? *settings.python_classes : builtin);
}

bool collects_function_name(std::string_view name, const PytestSettings& settings) {
  static const std::vector<std::string> builtin = {"test"};
  return matches_prefix_or_glob(name, settings.python_functions ? *settings.python_functions : builtin);
}

bool collects_doctest_modules(const PytestSettings& settings, const std::vector<std::string>& pytest_args) {
  constexpr std::string_view flag = "--doctest-modules";
  return std::ranges::find(settings.addopts, flag) != settings.addopts.end() ||
         std::ranges::find(pytest_args, flag) != pytest_args.end();
}

}  // namespace pindrel
