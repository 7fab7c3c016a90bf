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

}  // namespace
}  // namespace pindrel::changed
