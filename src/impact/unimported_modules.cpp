#include "impact/unimported_modules.hpp"

#include "impact/module_seeds.hpp"
#include "impact/test_support.hpp"
#include "impact/word_search.hpp"
#include "project/modpath.hpp"
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
  std::vector<std::size_t> test_files;
  bool listed = false;
  for (auto& [file, entry] : files) {
    auto& [names, seed] = entry;
    const std::optional<std::string>& module = walk_module_name(state, file);
    if (module) names.insert(*module);
    auto imported = imported_elsewhere(state, names, file);
    if (!imported) return WalkOutcome::stop(RunAllReason::index_failed, imported.error().render());
    if (*imported) continue;

    if (!listed) {
      for (std::size_t index = 0; index < state.source_cache.python_files.size(); ++index) {
        if (is_test_file(state.source_cache.python_files[index], state.root())) test_files.push_back(index);
      }
      listed = true;
    }
    std::vector<std::string> words = {display_path(file.generic_string()), display_path(file.filename())};
    if (module) words.push_back(*module);
    std::set<std::filesystem::path> mentioning;
    for (const std::string& word : words) {
      auto hits = grep_word_in_files(state.source_cache, test_files, word);
      if (!hits) return WalkOutcome::stop(RunAllReason::index_failed, hits.error().render());
      for (ReferenceSite& hit : *hits) {
        if (hit.file != file) mentioning.insert(std::move(hit.file));
      }
    }
    // A module no test names leads nowhere, and is not entered.
    if (mentioning.empty()) continue;
    std::string reached = seed->name;
    if (module) {
      mark_visited(state, *module, seed->name);
      reached = *module;
    }
    for (const std::filesystem::path& test : mentioning) {
      record_impacted_test(state, test, std::nullopt, TestKind::test, reached);
    }
  }
  return WalkOutcome::completed();
}

}  // namespace pindrel::impact
