#pragma once

// The changed-symbols report: what the working tree changed against the merge-base, at the level of
// Python definitions. A plain value, built once and then only read.

#include "pysource/definition_kind.hpp"

#include <array>
#include <cstddef>
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace pindrel::changed {

enum class ChangeKind { added, modified, deleted, count_ };

// One changed definition.
struct SymbolChange {
  std::string symbol;  // module name and qualified name joined by ":", as pkg.mod:Class.method
  std::string file;    // repository-relative path of the version reported
  pysource::DefinitionKind kind = pysource::DefinitionKind::function;
  std::uint32_t line = 0;    // 1-based line of the definition's name
  std::uint32_t column = 0;  // 1-based byte column of the definition's name
  ChangeKind change = ChangeKind::modified;
  std::optional<std::string> ignored_by;  // the `ignore-decorators` entry that matched, if any

  friend bool operator==(const SymbolChange&, const SymbolChange&) = default;
};

// A module whose top-level code changed outside any definition.
struct ModuleChange {
  std::string module;  // dotted module name
  std::string file;

  friend bool operator==(const ModuleChange&, const ModuleChange&) = default;
};

struct ChangedSymbols {
  std::string base;                           // the base ref that resolved
  std::string merge_base;                     // the merge-base commit id
  std::vector<SymbolChange> changed_symbols;  // without `ignored_by`
  std::vector<SymbolChange> ignored_symbols;  // with `ignored_by`
  std::vector<ModuleChange> module_level_changes;
  std::vector<std::string> non_python_changes;  // not Python sources, or binary; matched by no ignore pattern
  std::vector<std::string> ignored_paths;       // matched by an `ignore-paths` pattern
  std::vector<std::string> test_files_changed;  // Python test files, which are not outlined
  std::vector<std::string> errors;              // Python files with a version that did not parse

  friend bool operator==(const ChangedSymbols&, const ChangedSymbols&) = default;
};

// The words that reports, JSON and text alike, write for the enumerations, in the order of their values.
using pysource::definition_kind_word;
using pysource::definition_kind_words;
inline constexpr std::array<std::string_view, 3> change_kind_words = {"added", "modified", "deleted"};
static_assert(change_kind_words.size() == std::size_t(ChangeKind::count_));

inline std::string_view change_kind_word(ChangeKind change) {
  return change_kind_words[static_cast<std::size_t>(change)];
}

}  // namespace pindrel::changed
