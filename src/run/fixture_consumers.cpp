#include "run/fixture_consumers.hpp"

#include <algorithm>
#include <map>
#include <optional>
#include <set>

#include "util/utf8.hpp"

namespace pindrel::run {
namespace {

bool is_conftest(const std::filesystem::path& path) { return path.filename() == "conftest.py"; }

const FixtureDefinition* fixture_in(const KnownTestFiles& known, const std::filesystem::path& file,
                                    const std::string& name) {
  const auto entry = known.find(file);
  if (entry == known.end()) return nullptr;
  const auto found = entry->second.fixtures.find(name);
  return found == entry->second.fixtures.end() ? nullptr : &found->second;
}

// Where the lookup goes on past a fixture that overrides its own name: the conftest.py
// above the one that holds it, or the conftest.py beside the file that holds it.
std::optional<std::filesystem::path> next_start_file(const std::filesystem::path& file) {
  const std::filesystem::path dir = file.parent_path();
  if (!is_conftest(file)) return dir / "conftest.py";
  if (dir.empty() || dir.parent_path() == dir) return std::nullopt;
  return dir.parent_path() / "conftest.py";
}

// Whether the fixture `changed.name` that a test in `file` gets is `changed`, directly or
// through overrides that ask for the name they override.
bool resolves_to(const KnownTestFiles& known, const std::filesystem::path& file, const FixtureDefinition& changed) {
  std::set<std::filesystem::path, PathComponentLess> visited;
  const FixtureDefinition* found = find_fixture_definition(known, file, changed.name);
  while (found != nullptr && *found != changed) {
    if (std::ranges::find(found->parameter_names, changed.name) == found->parameter_names.end()) return false;
    if (!visited.insert(found->file).second) return false;
    const auto next = next_start_file(found->file);
    if (!next) return false;
    found = find_fixture_definition(known, *next, changed.name);
  }
  return found != nullptr;
}

// The fixtures a test in `file` can ask for, by name: its own file's, then each conftest.py
// above it, nearest first.
std::map<std::string_view, const FixtureDefinition*> visible_fixtures(const KnownTestFiles& known,
                                                                      const std::filesystem::path& file) {
  std::map<std::string_view, const FixtureDefinition*> visible;
  const auto add_from = [&](const std::filesystem::path& source) {
    const auto entry = known.find(source);
    if (entry == known.end()) return;
    for (const auto& [name, fixture] : entry->second.fixtures) visible.try_emplace(name, &fixture);
  };
  add_from(file);
  for (const auto& candidate : conftest_candidates(file)) {
    if (candidate != file) add_from(candidate);
  }
  return visible;
}

// The names whose fixtures depend on the changed one, itself included.
std::set<std::string_view> consumed_names(const std::map<std::string_view, const FixtureDefinition*>& visible,
                                          std::string_view changed) {
  std::set<std::string_view> consumed = {changed};
  for (bool added = true; added;) {
    added = false;
    for (const auto& [name, fixture] : visible) {
      if (consumed.contains(name)) continue;
      const auto asks = [&consumed](const std::string& parameter) { return consumed.contains(parameter); };
      if (std::ranges::any_of(fixture->parameter_names, asks)) {
        consumed.insert(name);
        added = true;
      }
    }
  }
  return consumed;
}

}  // namespace

std::vector<std::filesystem::path> fixture_scope_files(const KnownTestFiles& known, const std::filesystem::path& file) {
  if (is_conftest(file)) return test_files_under_dir(known, file.parent_path());
  if (is_collectible_test_file(file)) return {file};
  return {};
}

const FixtureDefinition* find_fixture_definition(const KnownTestFiles& known, const std::filesystem::path& start,
                                                 const std::string& name) {
  if (const FixtureDefinition* own = fixture_in(known, start, name)) return own;
  for (const auto& candidate : conftest_candidates(start)) {
    if (candidate == start) continue;
    if (const FixtureDefinition* found = fixture_in(known, candidate, name)) return found;
  }
  return nullptr;
}

void expand_changed_fixture(SelectionBuilder& builder, const FixtureDefinition& fixture, const std::string& symbol,
                            const ReferenceChain& chain) {
  const std::vector<std::filesystem::path> scope = fixture_scope_files(builder.known, fixture.file);
  for (const auto& file : scope) {
    for (const auto& candidate : conftest_candidates(file)) ensure_indexed(builder, candidate);
    ensure_indexed(builder, file);
  }

  std::vector<std::string> consumers;
  std::vector<std::string> wholesale;
  for (const auto& file : scope) {
    if (fixture.unreadable_name) {
      wholesale.push_back(display_path(file));
      continue;
    }
    const auto entry = builder.known.find(file);
    if (entry == builder.known.end() || !resolves_to(builder.known, file, fixture)) continue;

    const auto visible = visible_fixtures(builder.known, file);
    const std::set<std::string_view> consumed = consumed_names(visible, fixture.name);
    // An autouse fixture that depends on the changed one runs before every test in scope,
    // so every test there sees the change, whether or not it names a fixture.
    const bool every_test = fixture.autouse || std::ranges::any_of(visible, [&consumed](const auto& named) {
                              return named.second->autouse && consumed.contains(named.first);
                            });
    for (const TestConsumer& consumer : entry->second.consumers) {
      const auto asks = [&consumed](const std::string& name) { return consumed.contains(name); };
      if (every_test || consumer.unreadable_marks || std::ranges::any_of(consumer.fixture_names, asks)) {
        consumers.push_back(qualname_to_node_id(consumer.file, consumer.qualname));
      }
    }
  }

  if (consumers.empty() && wholesale.empty()) {
    builder.dropped.push_back({symbol, DropReason::no_consumers});
    return;
  }
  const ReferenceChain extended = extend_via_chain(chain, symbol);
  Expansion expansion{symbol, std::move(consumers),
                      fixture.unreadable_name ? ExpansionKind::unresolvable_fixture : ExpansionKind::fixture};
  expansion.into.insert(expansion.into.end(), std::make_move_iterator(wholesale.begin()),
                        std::make_move_iterator(wholesale.end()));
  for (const std::string& node_id : expansion.into) insert_node_id(builder, node_id, extended);
  builder.expanded.push_back(std::move(expansion));
}

}  // namespace pindrel::run
