#include "run/fixture_consumers.hpp"

#include "project/modpath.hpp"
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
  for (const auto& entry : scope) {
    const std::string_view file = entry->first;
    if (fixture.unreadable_name) {
      produce(lossy_utf8(entry->first));
      continue;
    }
    const auto& conftests = conftests_by_dir.find(directory_text(file))->second;
    fixtures.assign(1, &entry->second);
    fixtures.insert(fixtures.end(), conftests.begin(), conftests.end());
    fixtures.insert(fixtures.end(), plugins.begin(), plugins.end());
    if (!resolves_to(fixtures, fixture)) continue;

    visible_fixtures(fixtures, visible);
    consumed_names(visible, fixture.name, consumed);
    // An autouse fixture that depends on the changed one runs before every test in scope,
    // so every test there sees the change, whether or not it names a fixture.
    const bool every_test = fixture.autouse || std::ranges::any_of(visible, [&consumed](const auto& named) {
                              return named.second->autouse && contains(consumed, named.first);
                            });
    const auto asks = [&consumed](std::string_view name) { return contains(consumed, name); };
    const std::string file_text = lossy_utf8(entry->first);
    for (const TestConsumer& consumer : entry->second.consumers) {
      if (every_test || consumer.unreadable_marks ||
          std::ranges::any_of(entry->second.fixture_names_of(consumer), asks)) {
        write_node_id(node_id, file_text, consumer.qualname);
        produce(node_id);
      }
    }
  }

  if (expansion.count == 0) {
    builder.dropped.push_back({symbol, DropReason::no_consumers});
    return;
  }
  builder.expanded.push_back(std::move(expansion));
}

}  // namespace pindrel::run
