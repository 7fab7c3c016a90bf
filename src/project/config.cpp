#include "project/config.hpp"

#include "project/glob.hpp"
#include "project/pytest_ini.hpp"
#include "util/file_read.hpp"
#include "util/utf8.hpp"

#include <toml++/toml.h>

#include <algorithm>
#include <array>
#include <charconv>
#include <cmath>
#include <limits>
#include <string_view>
#include <utility>

namespace pindrel {
namespace {

// The reader's error layout: the position, the line with the span marked, the message.
std::string render_toml_error(std::string_view text, const toml::source_region& where, std::string_view message) {
  if (where.begin.line == 0) return std::string(message);
  std::string_view content = text;
  for (toml::source_index line = 1; line < where.begin.line; ++line) {
    const std::size_t nl = content.find('\n');
    content = nl == std::string_view::npos ? std::string_view() : content.substr(nl + 1);
  }
  content = content.substr(0, content.find('\n'));
  if (content.ends_with('\r')) content.remove_suffix(1);

  const std::size_t column = where.begin.column == 0 ? 0 : where.begin.column - 1;
  const std::size_t line_chars = scalar_count(content);
  const std::size_t room = line_chars > column ? line_chars - column : 0;
  std::size_t marked = room;
  if (where.end.line == where.begin.line) {
    marked = where.end.column > where.begin.column ? where.end.column - where.begin.column : 1;
  }
  marked = std::max<std::size_t>(1, std::min(marked, room));

  const std::string line_number = std::to_string(where.begin.line);
  const std::string gutter(line_number.size() + 1, ' ');
  std::string out = "TOML parse error at line " + line_number + ", column " + std::to_string(column + 1) + "\n";
  out += gutter + "|\n";
  out += line_number + " | " + std::string(content) + "\n";
  out += gutter + "|" + std::string(column + 1, ' ') + std::string(marked, '^') + "\n";
  out += message;
  return out;
}

// A conversion failure, placed on the value it is about.
struct Refusal {
  toml::source_region where;
  std::string message;
};

template <class T>
using Converted = std::expected<T, Refusal>;

// Shortest text that reads back as `value`, never in exponent form, always with a decimal point.
std::string float_text(double value) {
  if (std::isnan(value)) return "NaN";
  if (std::isinf(value)) return value < 0 ? "-inf" : "inf";
  char buffer[512];  // the longest fixed form, that of the smallest subnormal, takes 327
  const auto done = std::to_chars(buffer, buffer + sizeof buffer, value, std::chars_format::fixed);
  std::string out(buffer, done.ptr);
  if (out.find('.') == std::string::npos) out += ".0";
  return out;
}

// The value found, as a conversion message names it.
std::string unexpected_text(const toml::node& node) {
  if (auto s = node.as_string()) return "string " + debug_quoted(s->get());
  if (auto i = node.as_integer()) return "integer `" + std::to_string(i->get()) + "`";
  if (auto f = node.as_floating_point()) return "floating point `" + float_text(f->get()) + "`";
  if (auto b = node.as_boolean()) return std::string("boolean `") + (b->get() ? "true" : "false") + "`";
  if (node.is_array()) return "sequence";
  return "map";  // tables, and dates and times, which the reader hands over as records
}

Refusal invalid_type(const toml::node& node, std::string_view expected) {
  return {node.source(), "invalid type: " + unexpected_text(node) + ", expected " + std::string(expected)};
}

Converted<std::uint64_t> to_unsigned(const toml::node& node, std::string_view type_word, std::uint64_t max) {
  const auto* integer = node.as_integer();
  if (integer == nullptr) return std::unexpected(invalid_type(node, type_word));
  const std::int64_t value = integer->get();
  if (value < 0 || static_cast<std::uint64_t>(value) > max) {
    return std::unexpected(Refusal{
        node.source(), "invalid value: integer `" + std::to_string(value) + "`, expected " + std::string(type_word)});
  }
  return static_cast<std::uint64_t>(value);
}

Converted<std::vector<std::string>> to_strings(const toml::node& node) {
  const auto* array = node.as_array();
  if (array == nullptr) return std::unexpected(invalid_type(node, "a sequence"));
  std::vector<std::string> out;
  out.reserve(array->size());
  for (const auto& element : *array) {
    const auto* text = element.as_string();
    if (text == nullptr) return std::unexpected(invalid_type(element, "a string"));
    out.push_back(text->get());
  }
  return out;
}

Converted<GitEnvPolicy> policy_named(std::string_view name, const toml::source_region& where) {
  if (const auto policy = git_env_policy_named(name)) return *policy;
  return std::unexpected(
      Refusal{where, "unknown variant `" + std::string(name) + "`, expected `isolate` or `inherit`"});
}

// A policy is its name, or a table with that name as its one key over an empty table or array.
Converted<GitEnvPolicy> to_policy(const toml::node& node) {
  if (const auto* text = node.as_string()) return policy_named(text->get(), node.source());
  const auto* table = node.as_table();
  if (table == nullptr) return std::unexpected(Refusal{node.source(), "wanted string or table"});
  if (table->empty()) return std::unexpected(Refusal{node.source(), "wanted exactly 1 element, found 0 elements"});
  if (table->size() > 1) {
    return std::unexpected(Refusal{node.source(), "wanted exactly 1 element, more than 1 element"});
  }
  // The iterator owns the pair it hands out, so it has to outlive the names bound to it.
  const auto entry = table->begin();
  const auto& [key, value] = *entry;
  auto policy = policy_named(key.str(), key.source());
  if (!policy) return policy;
  if (const auto* inner = value.as_table()) {
    if (!inner->empty()) return std::unexpected(Refusal{value.source(), "expected empty table"});
  } else if (const auto* list = value.as_array()) {
    if (!list->empty()) return std::unexpected(Refusal{value.source(), "expected empty array"});
  } else {
    const std::string_view found = value.is_string()           ? "string"
                                   : value.is_integer()        ? "integer"
                                   : value.is_floating_point() ? "float"
                                   : value.is_boolean()        ? "boolean"
                                                               : "datetime";
    return std::unexpected(Refusal{value.source(), "expected table, found " + std::string(found)});
  }
  return policy;
}

// The keys of `table`, in the order they appear in the file.
std::vector<std::pair<const toml::key*, const toml::node*>> in_file_order(const toml::table& table) {
  std::vector<std::pair<const toml::key*, const toml::node*>> entries;
  for (const auto& [key, value] : table) entries.emplace_back(&key, &value);
  std::sort(entries.begin(), entries.end(), [](const auto& a, const auto& b) {
    const auto& pa = a.first->source().begin;
    const auto& pb = b.first->source().begin;
    return std::pair(pa.line, pa.column) < std::pair(pb.line, pb.column);
  });
  return entries;
}

template <class T, class Field>
Converted<void> assign(Converted<T> converted, Field& field) {
  if (!converted) return std::unexpected(std::move(converted.error()));
  field = std::move(*converted);
  return {};
}

Converted<Config> to_config(const toml::node& node) {
  const auto* table = node.as_table();
  if (table == nullptr) return std::unexpected(invalid_type(node, "struct Config"));
  Config config;
  constexpr std::uint64_t u32_max = std::numeric_limits<std::uint32_t>::max();
  constexpr std::uint64_t u64_max = std::numeric_limits<std::uint64_t>::max();
  for (const auto& [key, value] : in_file_order(*table)) {
    const std::string_view name = key->str();
    Converted<void> done;
    if (name == "ignore-decorators") {
      done = assign(to_strings(*value), config.ignore_decorators);
    } else if (name == "max-depth") {
      auto depth = to_unsigned(*value, "u32", u32_max);
      if (depth)
        config.max_depth = static_cast<std::uint32_t>(*depth);
      else
        done = std::unexpected(std::move(depth.error()));
    } else if (name == "max-symbols") {
      done = assign(to_unsigned(*value, "usize", u64_max), config.max_symbols);
    } else if (name == "budget-ms") {
      done = assign(to_unsigned(*value, "u64", u64_max), config.budget_ms);
    } else if (name == "suite-ms") {
      done = assign(to_unsigned(*value, "u64", u64_max), config.suite_ms);
    } else if (name == "pytest-command") {
      done = assign(to_strings(*value), config.pytest_command);
    } else if (name == "fallback-command") {
      done = assign(to_strings(*value), config.fallback_command);
    } else if (name == "git-env") {
      done = assign(to_policy(*value), config.git_env);
    } else if (name == "ignore-paths") {
      done = assign(to_strings(*value), config.ignore_paths);
    }
    if (!done) return std::unexpected(std::move(done.error()));
  }
  return config;
}

// Only `tool.pindrel` is read; every other key needs only to be valid TOML.
Converted<Config> to_document_config(const toml::table& document) {
  const toml::node* tool = document.get("tool");
  if (tool == nullptr) return Config{};
  const auto* tool_table = tool->as_table();
  if (tool_table == nullptr) return std::unexpected(invalid_type(*tool, "struct Tool"));
  const toml::node* pindrel = tool_table->get("pindrel");
  if (pindrel == nullptr) return Config{};
  return to_config(*pindrel);
}

// The key's place among the settings `run` reads; none for every other key.
std::vector<std::string>* pytest_setting(PytestSettings& settings, std::string_view key) {
  if (key == "python_files") return &settings.python_files.emplace();
  if (key == "python_classes") return &settings.python_classes.emplace();
  if (key == "python_functions") return &settings.python_functions.emplace();
  if (key == "usefixtures") return &settings.usefixtures;
  if (key == "addopts") return &settings.addopts;
  if (key == "testpaths") return &settings.testpaths;
  if (key == "norecursedirs") return &settings.norecursedirs.emplace();
  if (key == "pythonpath") return &settings.pythonpath;
  return nullptr;
}

// A list setting: an array of strings as it stands, or a string split into words.
Converted<std::vector<std::string>> to_pytest_words(const toml::node& node) {
  if (const auto* text = node.as_string()) {
    auto words = split_shell_words(text->get());
    if (!words) return std::unexpected(Refusal{node.source(), words.error().message()});
    return std::move(*words);
  }
  if (node.is_array()) return to_strings(node);
  return std::unexpected(invalid_type(node, "a string or a sequence"));
}

// `[tool.pytest.ini_options]`; none when the document has no such table.
Converted<std::optional<PytestSettings>> to_pytest_settings(const toml::table& document) {
  const toml::table* table = &document;
  for (const std::string_view key : {"tool", "pytest", "ini_options"}) {
    const toml::node* node = table->get(key);
    if (node == nullptr) return std::nullopt;
    table = node->as_table();
    if (table == nullptr) return std::unexpected(invalid_type(*node, "a table"));
  }
  PytestSettings settings;
  for (const auto& [key, value] : in_file_order(*table)) {
    std::vector<std::string>* setting = pytest_setting(settings, key->str());
    if (setting == nullptr) continue;
    auto words = to_pytest_words(*value);
    if (!words) return std::unexpected(std::move(words.error()));
    *setting = std::move(*words);
  }
  return settings;
}

Result<PytestSettings> ini_pytest_settings(const IniSection& section) {
  PytestSettings settings;
  for (const auto& [key, value] : section) {
    std::vector<std::string>* setting = pytest_setting(settings, key);
    if (setting == nullptr) continue;
    auto words = split_shell_words(value);
    if (!words) return std::unexpected(std::move(words.error()).context("`" + key + "`"));
    *setting = std::move(*words);
  }
  return settings;
}

Error toml_error(std::string_view text, const Refusal& refusal, const std::string& shown) {
  return Error(render_toml_error(text, refusal.where, refusal.message)).context("cannot parse " + shown);
}

// The UTF-8 text of `path`; none when it does not exist.
Result<std::optional<std::string>> read_text_if_present(const std::filesystem::path& path, const std::string& shown) {
  auto text = read_utf8_if_present(path);
  if (!text) return std::unexpected(std::move(text.error()).context("cannot read " + shown));
  return text;
}

// The same for a regular file only; none for anything else.
Result<std::optional<std::string>> read_text_if_file(const std::filesystem::path& path, const std::string& shown) {
  std::error_code ignored;
  if (!std::filesystem::is_regular_file(path, ignored)) return std::nullopt;
  return read_text_if_present(path, shown);
}

// A file pytest may take its settings from, and the section that makes it do so.
struct PytestConfigFile {
  std::string_view name;
  std::string_view section;  // empty for pyproject.toml's table
  bool always;               // taken even without the section
};

constexpr std::array<PytestConfigFile, 5> pytest_config_files = {{
    {"pytest.ini", "pytest", true},
    {".pytest.ini", "pytest", false},
    {"pyproject.toml", "", false},
    {"tox.ini", "pytest", false},
    {"setup.cfg", "tool:pytest", false},
}};

}  // namespace

Result<Config> load_config(const std::filesystem::path& root) {
  const std::filesystem::path path = root / "pyproject.toml";
  const std::string shown = display_path(path);

  auto read = read_text_if_present(path, shown);
  if (!read) return std::unexpected(std::move(read.error()));
  if (!*read) return Config{};
  const std::string& text = **read;

  Converted<Config> config;
  try {
    const toml::table document = toml::parse(text);
    config = to_document_config(document);
  } catch (const toml::parse_error& e) {
    config = std::unexpected(Refusal{e.source(), std::string(e.description())});
  }
  if (!config) return std::unexpected(toml_error(text, config.error(), shown));

  for (const auto& pattern : config->ignore_paths) {
    auto valid = validate_ignore_pattern(pattern);
    if (!valid) {
      return std::unexpected(std::move(valid.error()).context("invalid `ignore-paths` entry in " + shown));
    }
  }
  return std::move(*config);
}

Result<PytestSettings> load_pytest_settings(const std::filesystem::path& root) {
  for (const PytestConfigFile& candidate : pytest_config_files) {
    const std::filesystem::path path = root / candidate.name;
    const std::string shown = display_path(path);
    auto read = read_text_if_file(path, shown);
    if (!read) return std::unexpected(std::move(read.error()));
    if (!*read) continue;
    const std::string& text = **read;

    if (candidate.section.empty()) {
      Converted<std::optional<PytestSettings>> settings;
      try {
        settings = to_pytest_settings(toml::parse(text));
      } catch (const toml::parse_error& e) {
        settings = std::unexpected(Refusal{e.source(), std::string(e.description())});
      }
      if (!settings) return std::unexpected(toml_error(text, settings.error(), shown));
      if (*settings) return std::move(**settings);
      continue;
    }

    auto sections = parse_ini(text);
    if (!sections) return std::unexpected(std::move(sections.error()).context("cannot parse " + shown));
    const auto section = sections->find(candidate.section);
    if (section != sections->end()) {
      auto settings = ini_pytest_settings(section->second);
      if (!settings) return std::unexpected(std::move(settings.error()).context("cannot parse " + shown));
      return settings;
    }
    if (candidate.always) return PytestSettings{};
  }
  return PytestSettings{};
}

}  // namespace pindrel
