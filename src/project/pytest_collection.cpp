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
  if (!settings.python_files) {
    // pytest's own test_*.py and *_test.py, matched against the name's bytes: pytest collects a
    // name that is not UTF-8 as well.
    if (!has_py_extension(name, ExtensionCase::exact)) return false;
    const std::string_view stem = name.substr(0, name.size() - 3);
    return stem.starts_with("test_") || stem.ends_with("_test");
  }
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

namespace {

// pytest's own `norecursedirs`.
const std::vector<std::string>& default_norecursedirs() {
  static const std::vector<std::string> patterns = {"*.egg", ".*",           "_darcs", "build", "CVS",
                                                    "dist",  "node_modules", "venv",   "{arch}"};
  return patterns;
}

// The values of the long option `name` among `words`, given as "--name=value" or "--name value".
void add_option_values(std::span<const std::string> words, std::string_view name, std::vector<std::string>& values) {
  for (std::size_t i = 0; i < words.size(); ++i) {
    const std::string_view word = words[i];
    if (word == "--") return;  // what follows is no option
    if (word == name) {
      if (i + 1 < words.size()) values.push_back(words[++i]);
    } else if (word.size() > name.size() && word.starts_with(name) && word[name.size()] == '=') {
      values.emplace_back(word.substr(name.size() + 1));
    }
  }
}

// The values as pytest sees them: `addopts` first, then the command line.
std::vector<std::string> option_values(const PytestSettings& settings, const std::vector<std::string>& pytest_args,
                                       std::string_view name) {
  std::vector<std::string> values;
  add_option_values(settings.addopts, name, values);
  add_option_values(pytest_args, name, values);
  return values;
}

// `value` made absolute against `root` and normal, as Python's os.path.abspath makes it.
std::string absolute_normal(const std::filesystem::path& root, const std::string& value) {
  std::string text = (root / value).lexically_normal().native();
  while (text.size() > 1 && text.ends_with('/')) text.pop_back();
  return text;
}

bool has_magic(std::string_view text) { return text.find_first_of("*?[") != std::string_view::npos; }

// The "/"-separated components of `path` that name something: neither empty nor ".".
std::vector<std::string_view> components_of(std::string_view path) {
  std::vector<std::string_view> parts;
  for (std::size_t start = 0; start <= path.size();) {
    const std::size_t end = std::min(path.find('/', start), path.size());
    const std::string_view part = path.substr(start, end - start);
    if (!part.empty() && part != ".") parts.push_back(part);
    start = end + 1;
  }
  return parts;
}

// The ends (byte offsets into the path) of the leading parts of a path, whose components start at
// `offsets`, that Python's recursive glob of `pattern` yields: "**" spans any number of
// components, and a wildcard matches a name that starts with "." only when the pattern does.
void glob_prefix_ends(std::span<const std::string_view> pattern, std::span<const std::string_view> parts,
                      std::span<const std::size_t> ends, std::size_t matched, std::vector<std::size_t>& found) {
  if (pattern.empty()) {
    const std::size_t end = matched == 0 ? 0 : ends[matched - 1];
    if (std::ranges::find(found, end) == found.end()) found.push_back(end);
    return;
  }
  const std::string_view step = pattern.front();
  if (step == "**") {
    glob_prefix_ends(pattern.subspan(1), parts, ends, matched, found);
    if (matched < parts.size() && !parts[matched].starts_with('.')) {
      glob_prefix_ends(pattern, parts, ends, matched + 1, found);
    }
    return;
  }
  if (matched == parts.size()) return;
  const std::string_view part = parts[matched];
  const bool matches =
      has_magic(step) ? (!part.starts_with('.') || step.starts_with('.')) && fnmatch_glob(step, part) : step == part;
  if (matches) glob_prefix_ends(pattern.subspan(1), parts, ends, matched + 1, found);
}

std::vector<std::size_t> glob_prefix_ends(std::string_view pattern, std::string_view path) {
  const std::vector<std::string_view> steps = components_of(pattern);
  std::vector<std::string_view> parts;
  std::vector<std::size_t> ends;
  for (std::size_t start = 0; start <= path.size();) {
    const std::size_t end = std::min(path.find('/', start), path.size());
    parts.push_back(path.substr(start, end - start));
    ends.push_back(end);
    start = end + 1;
  }
  std::vector<std::size_t> found;
  glob_prefix_ends(steps, parts, ends, 0, found);
  return found;
}

bool is_identifier(std::string_view name) {
  if (name.empty() || (name.front() >= '0' && name.front() <= '9')) return false;
  // Letters beyond ASCII are taken as such, as most are.
  return std::ranges::all_of(name, [](char c) {
    return (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || (c >= '0' && c <= '9') || c == '_' ||
           static_cast<unsigned char>(c) >= 0x80;
  });
}

}  // namespace

SuiteCollection::SuiteCollection(const PytestSettings& settings, const std::vector<std::string>& pytest_args,
                                 const std::filesystem::path& root, std::span<const std::filesystem::path> files)
    : everywhere_(false), root_(absolute_normal(root, ".")) {
  // pytest globs `testpaths`, and starts at the root when none of them names anything.
  for (const std::string& pattern : settings.testpaths) {
    if (has_magic(pattern)) {
      const bool names_a_file = std::ranges::any_of(
          files, [&](const std::filesystem::path& file) { return !glob_prefix_ends(pattern, file.native()).empty(); });
      if (names_a_file) testpaths_.push_back(pattern);
      continue;
    }
    std::error_code ignored;
    if (std::filesystem::exists(root / pattern, ignored)) testpaths_.push_back(pattern);
  }
  norecursedirs_ = settings.norecursedirs ? *settings.norecursedirs : default_norecursedirs();
  for (const std::string& path : option_values(settings, pytest_args, "--ignore")) {
    ignored_.push_back(absolute_normal(root, path));
  }
  for (const std::string& glob : option_values(settings, pytest_args, "--ignore-glob")) {
    ignored_globs_.push_back(absolute_normal(root, glob));
  }
}

std::vector<std::size_t> SuiteCollection::starts_of(std::string_view path) const {
  if (testpaths_.empty()) return {0};
  std::vector<std::size_t> starts;
  for (const std::string& pattern : testpaths_) {
    if (has_magic(pattern)) {
      for (const std::size_t end : glob_prefix_ends(pattern, path)) starts.push_back(end);
      continue;
    }
    std::string start;
    for (const std::string_view part : components_of(pattern)) start.append(start.empty() ? "" : "/").append(part);
    if (start.empty()) {
      starts.push_back(0);
    } else if (path == start || (path.starts_with(start) && path[start.size()] == '/')) {
      starts.push_back(start.size());
    }
  }
  return starts;
}

bool SuiteCollection::excluded(std::string_view path, bool is_directory) const {
  const std::string absolute = root_ + "/" + std::string(path);
  if (std::ranges::find(ignored_, absolute) != ignored_.end()) return true;
  if (std::ranges::any_of(ignored_globs_, [&](const std::string& glob) { return fnmatch_glob(glob, absolute); })) {
    return true;
  }
  if (!is_directory) return false;
  // A pattern with a "/" is matched against the whole path, as pytest matches it against the
  // absolute one with "*/" in front; any other against the directory's name.
  const std::string_view name = path.substr(path.rfind('/') + 1);
  return std::ranges::any_of(norecursedirs_, [&](const std::string& pattern) {
    if (pattern.find('/') == std::string::npos) return fnmatch_glob(pattern, name);
    return fnmatch_glob(pattern.starts_with('/') ? pattern : "*/" + pattern, absolute);
  });
}

bool SuiteCollection::collects(std::string_view path) const {
  if (everywhere_) return true;
  for (const std::size_t start : starts_of(path)) {
    // pytest judges each directory it would enter below the start, then the file, unless the
    // file is the start itself.
    bool entered = true;
    for (auto slash = path.find('/', start == 0 ? 0 : start + 1); entered && slash != std::string_view::npos;
         slash = path.find('/', slash + 1)) {
      const std::string dir(path.substr(0, slash));
      auto [at, added] = excluded_dirs_.try_emplace(dir, false);
      if (added) at->second = excluded(dir, true);
      entered = !at->second;
    }
    if (entered && (start == path.size() || !excluded(path, false))) return true;
  }
  return false;
}

ImportMode import_mode(const PytestSettings& settings, const std::vector<std::string>& pytest_args) {
  ImportMode mode = ImportMode::prepend;
  for (const std::string& value : option_values(settings, pytest_args, "--import-mode")) {
    if (value == "prepend") mode = ImportMode::prepend;
    if (value == "append") mode = ImportMode::append;
    if (value == "importlib") mode = ImportMode::importlib;
  }
  return mode;
}

std::string pytest_module_name(std::string_view path, const std::function<bool(std::string_view dir)>& is_package_dir) {
  std::string_view name = path.substr(path.rfind('/') + 1);
  if (const auto dot = name.rfind('.'); dot != std::string_view::npos && dot > 0) name = name.substr(0, dot);
  std::string module(name);
  // The chain stops at the root, which the repository's own paths cannot see above.
  const auto last_slash = path.rfind('/');
  if (last_slash == std::string_view::npos) return module;
  for (std::string_view dir = path.substr(0, last_slash);;) {
    const std::string_view own = dir.substr(dir.rfind('/') + 1);
    if (!is_package_dir(dir) || !is_identifier(own)) break;
    module.insert(0, std::string(own) + ".");
    const auto slash = dir.rfind('/');
    if (slash == std::string_view::npos) break;
    dir = dir.substr(0, slash);
  }
  return module;
}

bool collects_doctest_modules(const PytestSettings& settings, const std::vector<std::string>& pytest_args) {
  constexpr std::string_view flag = "--doctest-modules";
  return std::ranges::find(settings.addopts, flag) != settings.addopts.end() ||
         std::ranges::find(pytest_args, flag) != pytest_args.end();
}

}  // namespace pindrel
