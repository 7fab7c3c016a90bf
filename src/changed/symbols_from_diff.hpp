#pragma once

#include "changed/changed_symbols.hpp"
#include "project/config.hpp"
#include "project/git.hpp"
#include "pysource/outline.hpp"
#include "util/error.hpp"

#include <filesystem>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace pindrel::changed {

// The changed-symbols report and the changed paths that are not valid UTF-8, as git wrote
// them. The report shows such a path with replacement characters, which name no file, so
// what the file holds is not judged at all.
struct WorkingTreeChanges {
  ChangedSymbols report;
  std::vector<std::string> undecodable_paths;
};

// The changes of the working tree against `refs.merge_base`: each changed Python source is
// outlined on both sides and every changed line becomes the innermost definition holding it,
// or a module-level change. The untracked paths are taken over.
Result<WorkingTreeChanges> changed_symbols_from_diff(const GitHandle& git, const std::filesystem::path& root,
                                                     const Config& config, const BaseRefs& refs,
                                                     std::vector<std::string> untracked);

// Sorted by symbol, then file (bytes, stable), each symbol and file pair kept once, as it came first.
std::vector<SymbolChange> dedup_symbol_changes(std::vector<SymbolChange> changes);

// Whether a decorator's dotted name matches an `ignore-decorators` entry: it is the entry, or
// ends with it just after a ".".
bool decorator_matches_entry(std::string_view name, std::string_view entry);

// The `ignore-decorators` entry that one of the decorators matches: the whole dotted name,
// or a suffix of it that starts after a ".". Decorators are tried top to bottom.
std::optional<std::string> ignoring_entry(const std::vector<pysource::Decorator>& decorators,
                                          const std::vector<std::string>& ignore_decorators);

}  // namespace pindrel::changed
