#include "changed/symbols_from_diff.hpp"
#include "scratch.hpp"

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
  return SymbolChange{std::move(symbol),    std::move(file), pysource::DefinitionKind::function, line, 1,
                      ChangeKind::modified, std::nullopt};
}

TEST(SymbolsFromDiff, DedupSortsByBytesAndKeepsTheFirst) {
  const std::vector<SymbolChange> in = {
      change("m:b", "m.py", 1), change("m:a", "z.py", 2), change("m:B", "m.py", 3),
      change("m:b", "m.py", 4), change("m:a", "a.py", 5), change("m:\xC3\xA9", "m.py", 6),
  };
  const std::vector<SymbolChange> want = {
      change("m:B", "m.py", 3), change("m:a", "a.py", 5),        change("m:a", "z.py", 2),
      change("m:b", "m.py", 1), change("m:\xC3\xA9", "m.py", 6),
  };
  EXPECT_EQ(dedup_symbol_changes(in), want);
}

// A hunk header that claims four billion lines costs what the file's own lines cost. It
// reads as every line from the first one on, and the lines it claims past the end of the
// file make a module-level change.
TEST(SymbolsFromDiff, DamagedHunkCountIsBoundByTheFile) {
  test_support::ScratchDir root;
  test_support::write_file(
      root.path() / "git",
      "#!/bin/sh\n"
      "case \"$3\" in\n"
      "  diff) printf 'diff --git a/m.py b/m.py\\n--- a/m.py\\n+++ b/m.py\\n@@ -1 +1,4294967295 @@\\n' ;;\n"
      "  show) printf 'def f():\\n    return 0\\n' ;;\n"
      "esac\n",
      test_support::FileMode::executable);
  test_support::write_file(root.path() / "m.py",
                           "def f():\n    return 1\n\nclass C:\n    def m(self):\n        pass\n");
  const GitHandle git{root.path() / "git", root.path()};

  auto changes = changed_symbols_from_diff(git, root.path(), Config{}, BaseRefs{"main", "0123abc"}, {});
  ASSERT_TRUE(changes) << changes.error().render();
  const ChangedSymbols& report = changes->report;
  using pysource::DefinitionKind;
  const std::vector<SymbolChange> want = {
      {"m:C", "m.py", DefinitionKind::class_, 4, 7, ChangeKind::added, std::nullopt},
      {"m:C.m", "m.py", DefinitionKind::method, 5, 9, ChangeKind::added, std::nullopt},
      {"m:f", "m.py", DefinitionKind::function, 1, 5, ChangeKind::modified, std::nullopt},
  };
  EXPECT_EQ(report.changed_symbols, want);
  EXPECT_EQ(report.module_level_changes, (std::vector<ModuleChange>{{"m", "m.py"}}));
}

// A path that is not UTF-8 stands in the report as text, and is handed back as git wrote it,
// once however many sides name it.
TEST(SymbolsFromDiff, PathsThatAreNotUtf8AreHandedBackAsTheyWere) {
  test_support::ScratchDir root;
  test_support::write_file(root.path() / "git",
                           "#!/bin/sh\n"
                           "case \"$3\" in\n"
                           "  diff) printf 'diff --git a/t/test_\\351.py b/t/test_\\351.py\\n"
                           "--- a/t/test_\\351.py\\n+++ b/t/test_\\351.py\\n@@ -1 +1 @@\\n-\\351\\n+x\\n' ;;\n"
                           "esac\n",
                           test_support::FileMode::executable);
  const GitHandle git{root.path() / "git", root.path()};

  auto changes =
      changed_symbols_from_diff(git, root.path(), Config{}, BaseRefs{"main", "0123abc"}, {"new\xff.txt", "ok.txt"});
  ASSERT_TRUE(changes) << changes.error().render();
  EXPECT_EQ(changes->undecodable_paths, (std::vector<std::string>{"t/test_\xe9.py", "new\xff.txt"}));
  EXPECT_EQ(changes->report.test_files_changed, std::vector<std::string>{"t/test_\xEF\xBF\xBD.py"});
  EXPECT_EQ(changes->report.non_python_changes, (std::vector<std::string>{"new\xEF\xBF\xBD.txt", "ok.txt"}));
}

constexpr std::string_view shop_source = R"(import functools


@functools.lru_cache(maxsize=32)
def price(amount: int, rate=2) -> int:
    total = amount * rate
    return total


def fee(
    amount,
    rate=1,
):
    return amount * rate


class Shop(Base):
    currency = "EUR"

    def buy(self, item):
        return item
)";

// A changed header line whose decorators, defaults, annotations or bases differ, or a class
// body's own statement, runs when the module is imported, so it changes the module besides the
// symbol; a line inside a function's body, a header that evaluates the same, or a plain
// definition added or deleted, changes only the symbol.
TEST(SymbolsFromDiff, HeaderAndClassBodyChangesAreModuleLevelChanges) {
  struct Case {
    std::string_view name;
    std::string_view old_text;
    std::string_view new_text;
    std::vector<std::string> symbols;
    bool module_level;
  };
  const Case cases[] = {
      {"decorator argument", "maxsize=32", "maxsize=\"32\"", {"shop:price"}, true},
      {"annotation", "amount: int", "amount: Decimal", {"shop:price"}, true},
      {"default value", "rate=2", "rate=3", {"shop:price"}, true},
      {"return annotation", "-> int", "-> float", {"shop:price"}, true},
      {"parameter of a signature over several lines", "rate=1,", "rate=10,", {"shop:fee"}, true},
      {"base class", "Shop(Base)", "Shop(Other)", {"shop:Shop"}, true},
      {"class-body statement", "\"EUR\"", "\"USD\"", {"shop:Shop"}, true},
      {"method header", "buy(self, item)", "buy(self, item, count=1)", {"shop:Shop.buy"}, true},
      // A header whose evaluated parts stay as they were runs nothing new at import.
      {"renamed parameter without a default", "    amount,\n", "    value,\n", {"shop:fee"}, false},
      {"added parameter without a default", "buy(self, item)", "buy(self, item, extra)", {"shop:Shop.buy"}, false},
      {"renamed parameter with a default", "rate=2)", "ratio=2)", {"shop:price"}, false},
      {"added plain function",
       "\n\nclass Shop",
       "\n\ndef to_money(x):\n    return x\n\n\nclass Shop",
       {"shop:to_money"},
       false},
      {"added function",
       "\n\nclass Shop",
       "\n\ndef to_money(x: Decimal):\n    return x\n\n\nclass Shop",
       {"shop:to_money"},
       true},
      {"deleted decorated function",
       "@functools.lru_cache(maxsize=32)\ndef price(amount: int, rate=2) -> int:\n"
       "    total = amount * rate\n    return total\n",
       "",
       {"shop:price"},
       true},
      // Its importers are found by the deleted name; the module otherwise runs as before.
      {"deleted plain function",
       "def fee(\n    amount,\n    rate=1,\n):\n    return amount * rate\n",
       "",
       {"shop:fee"},
       false},
      {"deleted method", "\n    def buy(self, item):\n        return item\n", "\n", {"shop:Shop.buy"}, false},
      {"function body", "total = amount * rate", "total = rate * amount", {"shop:price"}, false},
      {"body of a signature over several lines", "return amount * rate", "return rate * amount", {"shop:fee"}, false},
      {"method body", "return item", "return [item]", {"shop:Shop.buy"}, false},
  };
  test_support::ScratchRepo repo;
  repo.write("shop.py", shop_source);
  const std::string base = repo.commit("shop");
  const GitHandle git{"git", repo.path()};
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    std::string changed(shop_source);
    const auto at = changed.find(c.old_text);
    ASSERT_NE(at, std::string::npos);
    changed.replace(at, c.old_text.size(), c.new_text);
    repo.write("shop.py", changed);
    auto changes = changed_symbols_from_diff(git, repo.path(), Config{}, BaseRefs{"main", base}, {});
    ASSERT_TRUE(changes) << changes.error().render();
    const ChangedSymbols& report = changes->report;
    std::vector<std::string> symbols;
    for (const SymbolChange& symbol : report.changed_symbols) symbols.push_back(symbol.symbol);
    EXPECT_EQ(symbols, c.symbols);
    const std::vector<ModuleChange> module_level =
        c.module_level ? std::vector<ModuleChange>{{"shop", "shop.py"}} : std::vector<ModuleChange>{};
    EXPECT_EQ(report.module_level_changes, module_level);
  }
}

// Under postponed annotations an annotation is not evaluated at all, so changing one changes
// only the symbol; a default still runs.
TEST(SymbolsFromDiff, PostponedAnnotationsAreNoModuleLevelChange) {
  constexpr std::string_view source =
      "from __future__ import annotations\n\n\ndef f(x: int, y=1) -> int:\n    return x\n";
  struct Case {
    std::string_view old_text;
    std::string_view new_text;
    bool module_level;
  };
  const Case cases[] = {{"-> int", "-> str", false}, {"x: int", "x: Decimal", false}, {"y=1", "y=2", true}};
  test_support::ScratchRepo repo;
  repo.write("shop.py", source);
  const std::string base = repo.commit("shop");
  const GitHandle git{"git", repo.path()};
  for (const auto& c : cases) {
    SCOPED_TRACE(c.new_text);
    std::string changed(source);
    changed.replace(changed.find(c.old_text), c.old_text.size(), c.new_text);
    repo.write("shop.py", changed);
    auto changes = changed_symbols_from_diff(git, repo.path(), Config{}, BaseRefs{"main", base}, {});
    ASSERT_TRUE(changes) << changes.error().render();
    ASSERT_EQ(changes->report.changed_symbols.size(), 1u);
    EXPECT_EQ(changes->report.changed_symbols[0].symbol, "shop:f");
    EXPECT_EQ(changes->report.module_level_changes.empty(), !c.module_level);
  }
}

}  // namespace
}  // namespace pindrel::changed
