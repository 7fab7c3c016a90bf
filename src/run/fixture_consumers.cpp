#include "run/fixture_consumers.hpp"

#include "impact/collected_copies.hpp"
#include "impact/test_support.hpp"
#include "project/modpath.hpp"
#include "pysource/word.hpp"
#include "util/utf8.hpp"

#include <algorithm>
#include <map>
#include <string_view>
#include <utility>

namespace pindrel::run {
namespace {

// `file` up to its last "/", which files of one directory share.
std::string_view directory_text(std::string_view file) { return file.substr(0, file.rfind('/') + 1); }

struct ChainMatch {
  std::size_t position = 0;
  const FixtureDefinition* fixture = nullptr;
};

// The first definition of `name` in the chain from `from` on.
ChainMatch find_in_chain(const std::vector<const TestModuleIndex*>& chain, std::size_t from, std::string_view name) {
  for (std::size_t k = from; k < chain.size(); ++k) {
    if (const auto found = chain[k]->fixtures.find(name); found != chain[k]->fixtures.end()) return {k, &found->second};
  }
  return {};
}

// Whether the fixture `changed.name` that a test sees through `chain` is `changed`, directly
// or through overrides that ask for the name they override. Each override sends the lookup
// on to the conftest.py files above its own file, which in the chain are the entries after it.
bool resolves_to(const std::vector<const TestModuleIndex*>& chain, const FixtureDefinition& changed) {
  for (ChainMatch match = find_in_chain(chain, 0, changed.name); match.fixture != nullptr;
       match = find_in_chain(chain, match.position + 1, changed.name)) {
    if (*match.fixture == changed) return true;
    if (std::ranges::find(match.fixture->parameter_names, changed.name) == match.fixture->parameter_names.end()) {
      return false;
    }
  }
  return false;
}

// Name and nearest definition of each fixture a test sees, sorted by name. Sorted vectors,
// not trees: the sets are small and built again for every file in scope.
using VisibleFixtures = std::vector<std::pair<std::string_view, const FixtureDefinition*>>;
using NameSet = std::vector<std::string_view>;

// Sets of a few names are searched faster by equality, which compares lengths first, than by order.
bool contains(const NameSet& names, std::string_view name) {
  if (names.size() <= 16) {
    return std::ranges::any_of(names, [name](std::string_view known) {
      return known.size() == name.size() && (name.empty() || known[0] == name[0]) && known == name;
    });
  }
  return std::ranges::binary_search(names, name);
}

// The fixtures a test sees through `chain`, into `visible`.
void visible_fixtures(const std::vector<const TestModuleIndex*>& chain, VisibleFixtures& visible) {
  visible.clear();
  for (const TestModuleIndex* index : chain) {
    for (const auto& [name, fixture] : index->fixtures) visible.emplace_back(name, &fixture);
  }
  // Stable, so the nearest definition of a name leads its run and is the one kept.
  std::ranges::stable_sort(visible, {}, &VisibleFixtures::value_type::first);
  const auto repeats = std::ranges::unique(visible, {}, &VisibleFixtures::value_type::first);
  visible.erase(repeats.begin(), repeats.end());
}

// The names whose fixtures depend on the changed one, itself included, into `consumed`; a
// fixture that asks for fixtures by name may depend on any.
void consumed_names(const VisibleFixtures& visible, std::string_view changed, NameSet& consumed) {
  consumed.assign(1, changed);
  const auto asks = [&consumed](std::string_view parameter) { return contains(consumed, parameter); };
  for (bool added = true; added;) {
    added = false;
    for (const auto& [name, fixture] : visible) {
      if (!contains(consumed, name) && (fixture->asks_by_name || std::ranges::any_of(fixture->parameter_names, asks))) {
        consumed.insert(std::ranges::lower_bound(consumed, name), name);
        added = true;
      }
    }
  }
}

// For a fixture in a module that is neither a conftest.py nor collectible, every such module's
// index, the fixture's own first: pytest sees their fixtures after the conftest.py files, and
// which of them it loads is not known, so all of them count. Nothing for any other fixture.
std::vector<const TestModuleIndex*> plugin_chain(SelectionBuilder& builder, const std::filesystem::path& file) {
  const auto is_plugin = [&builder](std::string_view path) {
    return !is_conftest(path) && !is_collectible_test_file(path, builder.pytest);
  };
  std::vector<const TestModuleIndex*> chain;
  const auto own = builder.known.find(file.native());
  if (own == builder.known.end() || !is_plugin(own->first)) return chain;
  ensure_indexed(builder, *own);
  chain.push_back(&own->second);
  for (auto it = builder.known.begin(); it != builder.known.end(); ++it) {
    if (it == own || !is_plugin(it->first)) continue;
    ensure_indexed(builder, *it);
    chain.push_back(&it->second);
  }
  return chain;
}

// A test file outside a fixture's own scope that imports the fixture, and the fixture as pytest
// registers it there: under the name the import binds, unless the fixture names itself.
struct ImportingFile {
  KnownTestFiles::iterator entry;
  TestModuleIndex imported;  // holds that fixture alone, which the file's lookups see first
};

// The collectible test files that import a fixture of a test module or conftest.py from its
// module, by name or by a star import, other than those in `scope`. Only files that name the
// module's last part are read further.
std::vector<ImportingFile> importing_files(SelectionBuilder& builder, const FixtureDefinition& fixture,
                                           const std::vector<KnownTestFiles::iterator>& scope) {
  std::vector<ImportingFile> files;
  const std::filesystem::path file(fixture.file);
  const bool importable = is_conftest(file.native()) || is_collectible_test_file(file.native(), builder.pytest);
  if (!importable || fixture.qualname.find('.') != std::string::npos) return files;
  const std::vector<std::string> modules = impact::support_module_names(builder.cache.root, file);
  const std::string stem = file.stem().string();
  const auto [naming, added] = builder.files_naming.try_emplace(stem);
  if (added) {
    if (!builder.collected_sources) {
      builder.collected_sources.emplace();
      for (auto it = builder.known.begin(); it != builder.known.end(); ++it) {
        if (!suite_collects(builder, it->first)) continue;
        auto source = impact::read_source_cached(builder.cache, it->first);
        if (source && *source != nullptr) builder.collected_sources->emplace_back(it, std::move(*source));
      }
    }
    for (const auto& [it, source] : *builder.collected_sources) {
      if (pysource::contains_word(source->text, stem)) naming->second.push_back(it);
    }
  }
  for (const KnownTestFiles::iterator it : naming->second) {
    if (it->first == fixture.file || std::ranges::find(scope, it) != scope.end()) continue;
    ensure_indexed(builder, *it);
    if (it->second.outline == nullptr) continue;
    const std::optional<std::string> importer = module_name_for_path(builder.cache.root, it->first);
    for (const std::string& module : modules) {
      const auto names = impact::imported_names(*it->second.outline, it->first, importer, module, fixture.qualname);
      if (names.empty()) continue;
      FixtureDefinition imported = fixture;
      if (fixture.name == fixture.qualname) imported.name = names.front().bound;
      ImportingFile importing{it, {}};
      importing.imported.fixtures.emplace(imported.name, std::move(imported));
      files.push_back(std::move(importing));
      break;
    }
  }
  return files;
}

}  // namespace

std::vector<KnownTestFiles::iterator> fixture_scope_entries(KnownTestFiles& known, const std::filesystem::path& file,
                                                            const PytestSettings& settings,
                                                            const SuiteCollection& suite) {
  if (is_conftest(file.native())) return test_entries_under_dir(known, file.parent_path().native(), settings, suite);
  if (is_collectible_test_file(file.native(), settings)) {
    const auto own = known.find(file.native());
    if (own != known.end() && suite.collects(own->first)) return {own};
    return {};
  }
  return test_entries_under_dir(known, {}, settings, suite);
}

void expand_changed_fixture(SelectionBuilder& builder, const FixtureDefinition& fixture, const std::string& symbol,
                            const ReferenceChain& chain) {
  const std::vector<KnownTestFiles::iterator> scope =
      fixture_scope_entries(builder.known, fixture.file, builder.pytest, builder.suite);
  // Every index a scope file's lookups read is built before the first lookup, as building one
  // replaces what it held.
  const std::vector<const TestModuleIndex*> plugins = plugin_chain(builder, fixture.file);
  // The files of one directory see the same conftest.py files.
  std::map<std::string_view, std::vector<const TestModuleIndex*>> conftests_by_dir;
  std::size_t most = 0;
  for (const auto& entry : scope) {
    ensure_indexed(builder, *entry);
    most += entry->second.consumers.size();
    const std::string_view file = entry->first;
    if (const auto [at, added] = conftests_by_dir.try_emplace(directory_text(file)); added) {
      for (const std::string& candidate : conftest_candidates(file)) {
        if (compare_path_components(candidate, file) == 0) continue;
        if (const auto found = builder.known.find(candidate); found != builder.known.end()) {
          ensure_indexed(builder, *found);
          at->second.push_back(&found->second);
        }
      }
    }
  }

  std::vector<ImportingFile> importers = importing_files(builder, fixture, scope);
  for (const ImportingFile& importer : importers) {
    const std::string_view file = importer.entry->first;
    most += importer.entry->second.consumers.size();
    if (const auto [at, added] = conftests_by_dir.try_emplace(directory_text(file)); added) {
      for (const std::string& candidate : conftest_candidates(file)) {
        if (const auto found = builder.known.find(candidate); found != builder.known.end()) {
          ensure_indexed(builder, *found);
          at->second.push_back(&found->second);
        }
      }
    }
  }

  const SharedChain extended = share_chain(extend_via_chain(chain, symbol));
  Expansion expansion{
      symbol, {}, fixture.unreadable_name ? ExpansionKind::unresolvable_fixture : ExpansionKind::fixture};
  if (builder.list_expansions) expansion.into.reserve(fixture.unreadable_name ? scope.size() : most);
  const auto produce = [&](std::string_view node_id) {
    insert_node_id(builder, node_id, extended);
    if (builder.list_expansions) expansion.into.emplace_back(node_id);
    ++expansion.count;
  };
  std::string node_id;  // each test's, made here
  std::vector<const TestModuleIndex*> fixtures;
  VisibleFixtures visible;
  NameSet consumed;
  // The tests of `entry` that see `changed` through `lookups`, the file's own fixtures first.
  const auto consume = [&](KnownTestFiles::iterator entry, const TestModuleIndex* imported,
                           const FixtureDefinition& changed) {
    const std::string_view file = entry->first;
    if (changed.unreadable_name) return produce(listed_file_id(builder, entry->first));
    const auto& conftests = conftests_by_dir.find(directory_text(file))->second;
    fixtures.clear();
    if (imported != nullptr) fixtures.push_back(imported);
    fixtures.push_back(&entry->second);
    fixtures.insert(fixtures.end(), conftests.begin(), conftests.end());
    fixtures.insert(fixtures.end(), plugins.begin(), plugins.end());
    if (!resolves_to(fixtures, changed)) return;
    // Tests of a class that may turn collection back on are not known one by one.
    if (entry->second.names_test_attribute) return produce(listed_file_id(builder, entry->first));

    visible_fixtures(fixtures, visible);
    consumed_names(visible, changed.name, consumed);
    // An autouse fixture that depends on the changed one runs before every test in scope,
    // so every test there sees the change, whether or not it names a fixture.
    const bool every_test = changed.autouse || std::ranges::any_of(visible, [&consumed](const auto& named) {
                              return named.second->autouse && contains(consumed, named.first);
                            });
    const auto asks = [&consumed](std::string_view name) { return contains(consumed, name); };
    const std::string file_text = listed_file_id(builder, entry->first);
    for (const TestConsumer& consumer : entry->second.consumers) {
      if (every_test || consumer.unreadable_marks ||
          std::ranges::any_of(entry->second.fixture_names_of(consumer), asks)) {
        write_node_id(node_id, file_text, consumer.qualname);
        produce(node_id);
        for (const std::string& inherited : inherited_nodes(entry->second, consumer.qualname, builder.pytest)) {
          write_node_id(node_id, file_text, inherited);
          produce(node_id);
        }
      }
    }
  };
  for (const auto& entry : scope) consume(entry, nullptr, fixture);
  // A fixture imported into a test file is one of that file's own, found before its conftest.py files.
  for (const ImportingFile& importer : importers) {
    consume(importer.entry, &importer.imported, importer.imported.fixtures.begin()->second);
  }

  if (expansion.count == 0) {
    builder.dropped.push_back({symbol, DropReason::no_consumers});
    return;
  }
  builder.expanded.push_back(std::move(expansion));
}

}  // namespace pindrel::run
