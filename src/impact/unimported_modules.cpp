#include "impact/unimported_modules.hpp"

#include "impact/module_seeds.hpp"
#include "impact/test_support.hpp"
#include "impact/word_search.hpp"
#include "project/modpath.hpp"
#include "pysource/word.hpp"
#include "util/utf8.hpp"

#include <algorithm>
#include <map>
#include <set>

namespace pindrel::impact {
namespace {

// Whether a file other than `file` imports it by one of `names`.
Result<bool> imported_elsewhere(WalkState& state, const std::set<std::string>& names,
                                const std::filesystem::path& file) {
  for (const std::string& name : names) {
    auto importing = files_importing_module(state, name, file);
    if (!importing) return std::unexpected(std::move(importing.error()));
    if (std::ranges::any_of(*importing,
                            [&](std::size_t index) { return state.source_cache.python_files[index] != file; })) {
      return true;
    }
  }
  return false;
}

}  // namespace

WalkOutcome seed_unimported_modules(WalkState& state, std::span<const Seed> seeds) {
  // Each file with the names it is imported by and the first seed it holds.
  std::map<std::filesystem::path, std::pair<std::set<std::string>, const Seed*>> files;
  for (const Seed& seed : seeds) {
    if (!has_py_extension(seed.file.native(), ExtensionCase::exact)) continue;
    if (is_test_file(seed.file, state.root()) && !is_test_support_file(seed.file, state.root(), state.pytest)) {
      continue;  // pytest runs it itself
    }
    auto& [names, first] = files[seed.file];
    if (first == nullptr) first = &seed;
    if (seed.kind == SeedKind::module) names.insert(seed.name);
  }
  // The files no other file imports, with the words a test would name them by.
  struct Unimported {
    const std::filesystem::path* file;
    std::optional<std::string> module;
    const Seed* seed;
    std::vector<std::string> words;
    std::set<std::filesystem::path> mentioning;
  };
  std::vector<Unimported> unimported;
  for (auto& [file, entry] : files) {
    auto& [names, seed] = entry;
    const std::optional<std::string>& module = walk_module_name(state, file);
    if (module) names.insert(*module);
    auto imported = imported_elsewhere(state, names, file);
    if (!imported) return WalkOutcome::stop(RunAllReason::index_failed, imported.error().render());
    if (*imported) continue;
    std::vector<std::string> words = {display_path(file.generic_string()), display_path(file.filename())};
    if (module) words.push_back(*module);
    unimported.push_back({&file, module, seed, std::move(words), {}});
  }
  if (unimported.empty()) return WalkOutcome::completed();

  // One read of each test file serves every module's words.
  for (const std::filesystem::path& test : state.source_cache.python_files) {
    if (!is_test_file(test, state.root())) continue;
    auto scanned = scan_source(state.source_cache, test, [&](std::string_view text) {
      for (Unimported& module : unimported) {
        if (test == *module.file) continue;
        const auto named = [&](const std::string& word) { return pysource::contains_word(text, word); };
        if (std::ranges::any_of(module.words, named)) module.mentioning.insert(test);
      }
    });
    if (!scanned) return WalkOutcome::stop(RunAllReason::index_failed, scanned.error().render());
  }
  for (const Unimported& module : unimported) {
    // A module no test names leads nowhere, and is not entered.
    if (module.mentioning.empty()) continue;
    std::string reached = module.seed->name;
    if (module.module) {
      mark_visited(state, *module.module, module.seed->name);
      reached = *module.module;
    }
    for (const std::filesystem::path& test : module.mentioning) {
      record_impacted_test(state, test, std::nullopt, TestKind::test, reached);
    }
  }
  return WalkOutcome::completed();
}

}  // namespace pindrel::impact
