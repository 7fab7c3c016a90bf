#include "changed/symbols_from_diff.hpp"

#include <gtest/gtest.h>

namespace pindrel::changed {
namespace {

pysource::Decorator decorator(std::string name) { return pysource::Decorator{std::move(name), {}, {}}; }

TEST(SymbolsFromDiff, IgnoringEntryMatchesWholeDottedSuffixes) {
  struct Case {
    std::vector<std::string> decorators;
    std::vector<std::string> entries;
    std::optional<std::string> want;
  };
  const Case cases[] = {
      {{"app.route"}, {"route"}, "route"},
      {{"app.route"}, {"app.route"}, "app.route"},
      {{"app.route"}, {"pp.route"}, std::nullopt},
      {{"route"}, {"app.route"}, std::nullopt},
      {{"a.b.c"}, {"b.c"}, "b.c"},
      {{"app.route"}, {""}, std::nullopt},
      {{"property"}, {}, std::nullopt},
      // The first decorator with a match decides; entries are tried in configuration order.
      {{"cache", "app.get"}, {"get", "cache"}, "cache"},
      {{"app.get"}, {"x", "get", "app.get"}, "get"},
  };
  for (const auto& c : cases) {
    std::vector<pysource::Decorator> decorators;
    for (const auto& name : c.decorators) decorators.push_back(decorator(name));
    SCOPED_TRACE(c.decorators.front());
    EXPECT_EQ(ignoring_entry(decorators, c.entries), c.want);
  }
}

SymbolChange change(std::string symbol, std::string file, std::uint32_t line) {
  return SymbolChange{std::move(symbol), std::move(file), pysource::DefinitionKind::function, line, 1,
                      ChangeKind::modified, std::nullopt};
}

TEST(SymbolsFromDiff, DedupSortsByBytesAndKeepsTheFirst) {
  const std::vector<SymbolChange> in = {
      change("m:b", "m.py", 1), change("m:a", "z.py", 2), change("m:B", "m.py", 3),
      change("m:b", "m.py", 4), change("m:a", "a.py", 5), change("m:\xC3\xA9", "m.py", 6),
  };
  const std::vector<SymbolChange> want = {
      change("m:B", "m.py", 3), change("m:a", "a.py", 5), change("m:a", "z.py", 2),
      change("m:b", "m.py", 1), change("m:\xC3\xA9", "m.py", 6),
  };
  EXPECT_EQ(dedup_symbol_changes(in), want);
}

}  // namespace
}  // namespace pindrel::changed
