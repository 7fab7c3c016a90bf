#include "impact/test_support.hpp"

#include "impact/collected_copies.hpp"
#include "impact/module_seeds.hpp"
#include "project/modpath.hpp"
#include "project/pytest_collection.hpp"
#include "util/utf8.hpp"

#include <algorithm>
#include <iterator>
#include <set>
#include <string_view>
#include <system_error>
#include <utility>

namespace pindrel::impact {

bool is_test_support_file(const std::filesystem::path& path, const std::filesystem::path& root,
                          const PytestSettings& pytest) {
  return has_py_extension(path.native(), ExtensionCase::exact) && !is_conftest(path.native()) &&
         !is_collectible_test_file(path.native(), pytest) && is_test_file(path, root);
}

std::vector<std::string> support_module_names(const std::filesystem::path& root, const std::filesystem::path& path) {
  std::vector<std::string> names;
  std::optional<std::string> module = module_name_for_path(root, path);
  if (!module) return names;
  names.push_back(std::move(*module));
  std::error_code ec;
  if (std::filesystem::exists(root / path.parent_path() / "__init__.py", ec)) return names;
  for (auto dot = names.front().find('.'); dot != std::string::npos; dot = names.front().find('.', dot + 1)) {
    names.push_back(names.front().substr(dot + 1));
  }
  return names;
}

std::vector<Seed> test_file_seeds(const std::filesystem::path& root, std::span<const std::string> test_files) {
  std::vector<Seed> seeds;
  for (const std::string& file : test_files) {
    if (!has_py_extension(file, ExtensionCase::exact)) continue;
    for (std::string& name : support_module_names(root, file)) {
      seeds.push_back({{name, name, file, 0, 0}, SeedKind::module});
    }
  }
  return seeds;
}

namespace {

// A helper of a test module or conftest.py may be imported by test files whose uses of it the
// reference source cannot see (an import by the module's path below its test directory): each
// file that imports a walked helper and holds no test reached through it runs whole.
WalkOutcome reach_helper_importers(WalkState& state) {
  if (state.test_helpers.empty()) return WalkOutcome::completed();
  std::set<std::pair<std::string_view, std::string_view>> reached_through;  // (file, a name of its chain)
  for (const auto& [key, test] : state.impacted_tests) {
    for (const std::string& step : test.via) reached_through.emplace(test.file, step);
  }
  std::vector<std::pair<std::filesystem::path, std::string>> unseen;
  for (const FrontierSymbol& helper : state.test_helpers) {
    const bool importable =
        is_conftest(helper.file.native()) || is_collectible_test_file(helper.file.native(), state.pytest);
    if (!importable || helper.qualname.find('.') != std::string::npos) continue;
    auto places = function_importers(state, helper.file, helper.qualname);
    if (!places) return WalkOutcome::stop(RunAllReason::index_failed, places.error().render());
    for (const CopyPlace& place : *places) {
      const std::string file = display_path(place.file);
      if (!reached_through.contains({file, helper.name})) unseen.emplace_back(place.file, helper.name);
    }
  }
  for (const auto& [file, helper] : unseen) record_impacted_test(state, file, std::nullopt, TestKind::test, helper);
  return WalkOutcome::completed();
}

}  // namespace

WalkOutcome reach_through_test_code(WalkState& state) {
  if (WalkOutcome outcome = reach_helper_importers(state); !outcome.is_completed()) return outcome;
  std::set<std::string> handled;
  std::set<ImpactedTestKey> copied;  // the tests whose copies are recorded, and the copies
  CopyPlaces places;
  while (true) {
    // Each file newly found, with the walked name it was reached through.
    struct Reached {
      std::string file;
      std::string through;
      bool support = false;
    };
    std::vector<Reached> reached;
    std::vector<ImpactedTest> copies;
    for (auto it = state.impacted_tests.begin(); it != state.impacted_tests.end();) {
      const ImpactedTest& test = it->second;
      const bool support = is_test_support_file(test.file, state.root(), state.pytest);
      if (test.symbol && !support && is_collectible_test_file(test.file, state.pytest) &&
          copied.insert(it->first).second) {
        auto found = collected_copies(state, test, places);
        if (!found) return WalkOutcome::stop(RunAllReason::index_failed, found.error().render());
        std::ranges::move(*found, std::back_inserter(copies));
      }
      // A test reached in a test module is its own; only a whole one breaks its importers.
      const bool breaks_importers = test.kind == TestKind::test && (support || !test.symbol) &&
                                    has_py_extension(test.file, ExtensionCase::exact) &&
                                    is_test_file(test.file, state.root()) &&
                                    std::filesystem::path(test.file).filename() != "__init__.py";
      if (!breaks_importers) {
        ++it;
        continue;
      }
      std::string through = test.via.empty() ? test.origin : test.via.front();
      if (test.symbol) {
        // The test itself joins the chain of what its file's importers are reached through.
        mark_visited(state, *test.symbol, through);
        through = *test.symbol;
      }
      if (handled.insert(test.file).second) reached.push_back({test.file, std::move(through), support});
      it = support ? state.impacted_tests.erase(it) : std::next(it);
    }
    const bool copied_any = !copies.empty();
    for (ImpactedTest& copy : copies) {
      ImpactedTestKey key{copy.file, copy.symbol};
      copied.insert(key);
      state.impacted_tests.try_emplace(std::move(key), std::move(copy));
    }
    if (reached.empty() && !copied_any) return WalkOutcome::completed();
    for (const auto& [file, through, support] : reached) {
      for (const std::string& name : support_module_names(state.root(), file)) {
        // A support module stays entered, as a module the walk reached, though nothing imports it;
        // a test module's name that nothing imports leads nowhere.
        if (!support) {
          auto imported = is_imported(state, name, file);
          if (!imported) return WalkOutcome::stop(RunAllReason::index_failed, imported.error().render());
          if (!*imported) continue;
        }
        if (!mark_visited(state, name, through)) continue;
        WalkOutcome outcome = seed_module_change(state, name, file);
        if (!outcome.is_completed()) return outcome;
      }
    }
  }
}

}  // namespace pindrel::impact
