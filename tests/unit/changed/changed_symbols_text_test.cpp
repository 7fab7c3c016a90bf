#include "changed/changed_symbols_text.hpp"

#include <gtest/gtest.h>

namespace pindrel::changed {
namespace {

using pysource::DefinitionKind;

SymbolChange change(std::string symbol, std::string file, DefinitionKind kind, ChangeKind what,
                    std::optional<std::string> ignored_by = std::nullopt) {
  return SymbolChange{std::move(symbol), std::move(file), kind, 1, 1, what, std::move(ignored_by)};
}

std::string render(const ChangedSymbols& report) {
  std::string text = "BASE\n";
  render_changed_symbols_text(text, report);
  return text;
}

ChangedSymbols empty_report() { return ChangedSymbols{"origin/main", "0123456789abcdef", {}, {}, {}, {}, {}, {}, {}}; }

TEST(ChangedSymbolsText, NothingChanged) {
  EXPECT_EQ(render(empty_report()), "BASE\n\nNo changes against origin/main.\n");
}

TEST(ChangedSymbolsText, SymbolSectionsShareTheSymbolWidth) {
  ChangedSymbols report = empty_report();
  report.changed_symbols = {change("pkg.mod:f", "pkg/mod.py", DefinitionKind::function, ChangeKind::added)};
  report.ignored_symbols = {
      change("pkg.mod:Handler.get", "pkg/mod.py", DefinitionKind::method, ChangeKind::deleted, "route")};
  EXPECT_EQ(render(report),
            "BASE\n"
            "\n"
            "changed symbols (1)\n"
            "  added     function  pkg.mod:f            pkg/mod.py\n"
            "\n"
            "ignored symbols (1)\n"
            "  deleted   method    pkg.mod:Handler.get  pkg/mod.py  (@route)\n");
}

TEST(ChangedSymbolsText, ColumnsCountCharactersNotBytes) {
  ChangedSymbols report = empty_report();
  report.changed_symbols = {
      change("caf\xC3\xA9:f", "caf\xC3\xA9.py", DefinitionKind::class_, ChangeKind::modified),
      change("mod:gg", "mod.py", DefinitionKind::function, ChangeKind::modified),
  };
  report.module_level_changes = {{"\xC3\xA9t\xC3\xA9", "\xC3\xA9t\xC3\xA9.py"}, {"pkg", "pkg/__init__.py"}};
  EXPECT_EQ(render(report),
            "BASE\n"
            "\n"
            "changed symbols (2)\n"
            "  modified  class     caf\xC3\xA9:f  caf\xC3\xA9.py\n"
            "  modified  function  mod:gg  mod.py\n"
            "\n"
            "module-level changes (2)\n"
            "  \xC3\xA9t\xC3\xA9  \xC3\xA9t\xC3\xA9.py\n"
            "  pkg  pkg/__init__.py\n");
}

TEST(ChangedSymbolsText, SectionsInTheirFixedOrder) {
  ChangedSymbols report = empty_report();
  report.errors = {"pkg/broken.py"};
  report.ignored_paths = {"docs/a.md"};
  report.non_python_changes = {"Makefile", "setup.cfg"};
  report.test_files_changed = {"tests/test_x.py"};
  report.module_level_changes = {{"pkg", "pkg/__init__.py"}, {"pkg.sub", "pkg/sub/__init__.py"}};
  // The module column does not depend on the symbols.
  report.ignored_symbols = {
      change("a_rather_long_module:name", "a.py", DefinitionKind::function, ChangeKind::modified, "app.route")};
  EXPECT_EQ(render(report),
            "BASE\n"
            "\n"
            "ignored symbols (1)\n"
            "  modified  function  a_rather_long_module:name  a.py  (@app.route)\n"
            "\n"
            "module-level changes (2)\n"
            "  pkg      pkg/__init__.py\n"
            "  pkg.sub  pkg/sub/__init__.py\n"
            "\n"
            "changed test files (1)\n"
            "  tests/test_x.py\n"
            "\n"
            "non-Python changes (2)\n"
            "  Makefile\n"
            "  setup.cfg\n"
            "\n"
            "ignored paths (1)\n"
            "  docs/a.md\n"
            "\n"
            "parse errors (1)\n"
            "  pkg/broken.py\n");
}

TEST(ChangedSymbolsText, AnEmptySectionWritesNothing) {
  std::string text;
  write_symbol_change_section(text, "changed symbols", {}, 10);
  EXPECT_EQ(text, "");
}

}  // namespace
}  // namespace pindrel::changed
