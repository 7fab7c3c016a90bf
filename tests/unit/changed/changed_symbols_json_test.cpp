#include "changed/changed_symbols_json.hpp"
#include "json/value.hpp"
#include "json/writer.hpp"

#include <gtest/gtest.h>

namespace pindrel::changed {
namespace {

using pysource::DefinitionKind;

std::string written(const ChangedSymbols& report) {
  json::PrettyWriter writer;
  write_changed_symbols_json(report, writer);
  return std::move(writer).take();
}

std::string outcome(std::string_view text) {
  auto report = parse_changed_symbols(text);
  return report ? "ok" : report.error().render();
}

ChangedSymbols full_report() {
  ChangedSymbols report;
  report.base = "origin/main";
  report.merge_base = "4b825dc642cb6eb9a060e54bf8d69288fbee4904";
  report.changed_symbols = {
      {"pkg.a:Client", "pkg/a.py", DefinitionKind::class_, 3, 7, ChangeKind::added, std::nullopt},
      {"pkg.a:Client.get", "pkg/a.py", DefinitionKind::method, 4294967295, 1, ChangeKind::deleted, "odd.but.allowed"},
  };
  report.ignored_symbols = {
      {"pkg.b:task", "pkg/b.py", DefinitionKind::function, 10, 5, ChangeKind::modified, "app.task"}};
  report.module_level_changes = {{"pkg.c", "pkg/c.py"}};
  report.non_python_changes = {"README.md", "data/\"quoted\"\tname\x01.bin"};
  report.ignored_paths = {"docs/é.md"};
  report.test_files_changed = {"tests/test_a.py"};
  report.errors = {"pkg/broken.py"};
  return report;
}

TEST(ChangedSymbolsJson, WriterLayout) {
  ChangedSymbols report;
  report.base = "origin/main";
  report.merge_base = "abc123";
  report.changed_symbols = {{"pkg.mod:func", "pkg/mod.py", DefinitionKind::function, 3, 5, ChangeKind::modified, {}}};
  EXPECT_EQ(written(report), R"({
  "base": "origin/main",
  "merge_base": "abc123",
  "changed_symbols": [
    {
      "symbol": "pkg.mod:func",
      "file": "pkg/mod.py",
      "kind": "function",
      "line": 3,
      "column": 5,
      "change": "modified"
    }
  ],
  "ignored_symbols": [],
  "module_level_changes": [],
  "non_python_changes": [],
  "ignored_paths": [],
  "test_files_changed": [],
  "errors": []
})");
}

TEST(ChangedSymbolsJson, WriterNestsAtTheWritersDepth) {
  ChangedSymbols report;
  report.base = "main";
  report.merge_base = "m";
  report.ignored_symbols = {{"a:f", "a.py", DefinitionKind::function, 1, 5, ChangeKind::added, "app.task"}};
  report.module_level_changes = {{"a", "a.py"}};
  json::PrettyWriter writer;
  writer.begin_object().key("report");
  write_changed_symbols_json(report, writer);
  writer.end_object();
  EXPECT_EQ(writer.text(), R"({
  "report": {
    "base": "main",
    "merge_base": "m",
    "changed_symbols": [],
    "ignored_symbols": [
      {
        "symbol": "a:f",
        "file": "a.py",
        "kind": "function",
        "line": 1,
        "column": 5,
        "change": "added",
        "ignored_by": "app.task"
      }
    ],
    "module_level_changes": [
      {
        "module": "a",
        "file": "a.py"
      }
    ],
    "non_python_changes": [],
    "ignored_paths": [],
    "test_files_changed": [],
    "errors": []
  }
})");
}

TEST(ChangedSymbolsJson, WrittenReportsReadBackEqual) {
  ChangedSymbols empty;
  empty.base = "main";
  empty.merge_base = "m";
  for (const ChangedSymbols& report : {full_report(), empty}) {
    auto read = parse_changed_symbols(written(report));
    ASSERT_TRUE(read) << read.error().render();
    EXPECT_EQ(*read, report);
  }
}

TEST(ChangedSymbolsJson, ShortFormsReadAsEmptyLists) {
  ChangedSymbols expected;
  expected.base = "b";
  expected.merge_base = "m";
  for (std::string_view text : {R"({"merge_base": "m", "base": "b"})", R"(["b", "m"])", "\n[\"b\", \"m\", []]\n\n"}) {
    SCOPED_TRACE(text);
    auto read = parse_changed_symbols(text);
    ASSERT_TRUE(read) << read.error().render();
    EXPECT_EQ(*read, expected);
  }
}

TEST(ChangedSymbolsJson, EntryFormsAndNullIgnoredBy) {
  const SymbolChange expected{"s", "f", DefinitionKind::class_, 1, 2, ChangeKind::added, std::nullopt};
  for (
      std::string_view entry : {
          R"({"change": "added", "column": 2, "line": 1, "kind": "class", "file": "f", "symbol": "s"})",
          R"({"symbol": "s", "file": "f", "kind": "class", "line": 1, "column": 2, "change": "added", "ignored_by": null})",
          R"(["s", "f", "class", 1, 2, "added"])",
          R"(["s", "f", {"class": null}, 1, 2, {"added": null}, null])",
      }) {
    SCOPED_TRACE(entry);
    auto read = parse_changed_symbols(R"(["b", "m", [)" + std::string(entry) + "]]");
    ASSERT_TRUE(read) << read.error().render();
    ASSERT_EQ(read->changed_symbols.size(), 1u);
    EXPECT_EQ(read->changed_symbols[0], expected);
  }
}

TEST(ChangedSymbolsJson, ReaderMessages) {
  struct Case {
    std::string_view text;
    std::string_view message;
  };
  const Case cases[] = {
      {"", "EOF while parsing a value at line 1 column 0"},
      {"{}", "missing field `base` at line 1 column 2"},
      {R"({"base": "b"})", "missing field `merge_base` at line 1 column 13"},
      {R"({"base": "b", "merge_base": "m", "version": 1})",
       "unknown field `version`, expected one of `base`, `merge_base`, `changed_symbols`, `ignored_symbols`, "
       "`module_level_changes`, `non_python_changes`, `ignored_paths`, `test_files_changed`, `errors` at line 1 "
       "column 42"},
      {R"({"base": "b", "base": "c", "merge_base": "m"})", "duplicate field `base` at line 1 column 20"},
      {R"(["b"])", "invalid length 1, expected struct ChangedSymbols with 9 elements at line 1 column 5"},
      {R"(["b", "m", [], [], [], [], [], [], [], []])", "trailing characters at line 1 column 40"},
      {R"({"base": "b", "merge_base": "m"} x)", "trailing characters at line 1 column 34"},
      {"null", "invalid type: null, expected struct ChangedSymbols at line 1 column 4"},
      {R"({"base": 1, "merge_base": "m"})", "invalid type: integer `1`, expected a string at line 1 column 10"},
      {R"({"base": "b", "merge_base": "m", "errors": null})",
       "invalid type: null, expected a sequence at line 1 column 47"},
      {R"(["b", "m", [5]])", "invalid type: integer `5`, expected struct SymbolChange at line 1 column 13"},
      {R"(["b", "m", [["s", "f", "Function", 1, 2, "added"]]])",
       "unknown variant `Function`, expected one of `function`, `method`, `class` at line 1 column 33"},
      {R"(["b", "m", [["s", "f", "class", 1, 2, "gone"]]])",
       "unknown variant `gone`, expected one of `added`, `modified`, `deleted` at line 1 column 44"},
      {R"(["b", "m", [["s", "f", "method", -1, 2, "added"]]])",
       "invalid value: integer `-1`, expected u32 at line 1 column 35"},
      {R"(["b", "m", [["s", "f", "method", 4294967296, 2, "added"]]])",
       "invalid value: integer `4294967296`, expected u32 at line 1 column 43"},
      {R"(["b", "m", [["s", "f", "method", 3.0, 2, "added"]]])",
       "invalid type: floating point `3.0`, expected u32 at line 1 column 36"},
      {R"(["b", "m", [["s", "f", "class", 1, 2]]])",
       "invalid length 5, expected struct SymbolChange with 7 elements at line 1 column 37"},
      {R"(["b", "m", [["s", "f", "class", 1, 2, "added", null, "x"]]])", "trailing characters at line 1 column 54"},
      {R"(["b", "m", [{"symbol": "s", "extra": 1}]])",
       "unknown field `extra`, expected one of `symbol`, `file`, `kind`, `line`, `column`, `change`, `ignored_by` at "
       "line 1 column 35"},
      {R"(["b", "m", [{"symbol": "s", "file": "f"}]])", "missing field `kind` at line 1 column 40"},
      {R"(["b", "m", [], [], ["m"]])", "invalid type: string \"m\", expected struct ModuleChange at line 1 column 23"},
      {R"(["b", "m", [], [], [{"module": "m", "file": "f", "x": 1}]])",
       "unknown field `x`, expected `module` or `file` at line 1 column 52"},
      {R"(["b", "m", [], [], [["m"]]])",
       "invalid length 1, expected struct ModuleChange with 2 elements at line 1 column 25"},
      {R"(["b", "m", [], [], [["m", "f", "x"]]])", "trailing characters at line 1 column 32"},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.text);
    EXPECT_EQ(outcome(c.text), c.message);
  }
}

TEST(ChangedSymbolsJson, ValueTreeSortsEachEntrysMembers) {
  json::Value object = json::Value::object();
  symbol_changes_to_json_value(object, "ignored_symbols",
                               {{"a:f", "a.py", DefinitionKind::method, 2, 9, ChangeKind::deleted, "app.task"},
                                {"a:g", "a.py", DefinitionKind::class_, 4, 1, ChangeKind::added, std::nullopt}});
  symbol_changes_to_json_value(object, "changed_symbols", {});
  EXPECT_EQ(json::render_value(object), R"({
  "changed_symbols": [],
  "ignored_symbols": [
    {
      "change": "deleted",
      "column": 9,
      "file": "a.py",
      "ignored_by": "app.task",
      "kind": "method",
      "line": 2,
      "symbol": "a:f"
    },
    {
      "change": "added",
      "column": 1,
      "file": "a.py",
      "kind": "class",
      "line": 4,
      "symbol": "a:g"
    }
  ]
})");
}

}  // namespace
}  // namespace pindrel::changed
