#include "run/fallback.hpp"

#include <gtest/gtest.h>

namespace pindrel::run {
namespace {

constexpr std::string_view example =
    R"( must be a JSON array of strings, e.g. ["scripts/pick.sh", "--from-pindrel"]; got: )";
constexpr std::string_view empty_tail =
    " is an empty argv; name a command to run, or remove it to keep the default (the full suite under pytest)";

TEST(SettleFallbackCommand, EverySourceIsCheckedInOrderAndTheFirstGivenWins) {
  using Words = std::vector<std::string>;
  struct Case {
    std::string_view name;
    std::optional<std::string> flag;
    std::optional<std::string> variable;
    std::optional<Words> configured;
    std::string expected;  // "argv (from source)" or the error
  };
  const Case cases[] = {
      {"none", {}, {}, {}, "none"},
      {"flag beats variable and configuration", R"(["scripts/a.sh","x"])", R"(["b.sh"])", Words{"c.sh"},
       R"(["/r/scripts/a.sh","x"] (from --fallback-command))"},
      {"variable beats configuration", {}, R"(["./b.sh"])", Words{"c.sh"}, R"(["/r/./b.sh"] (from PINDREL_FALLBACK))"},
      {"configuration", {}, {}, Words{"c.sh", "-v"}, R"(["c.sh","-v"] (from fallback-command in pyproject.toml))"},
      {"a broken variable fails although the flag would win",
       R"(["a.sh"])",
       "a.sh",
       {},
       "PINDREL_FALLBACK" + std::string(example) + "a.sh: expected value at line 1 column 1"},
      {"both broken: the flag is named",
       "[1]",
       "{}",
       {},
       "--fallback-command" + std::string(example) +
           "[1]: invalid type: integer `1`, expected a string at line 1 column 2"},
      {"an empty configured list fails although the flag gives a command",
       R"(["a.sh"])",
       {},
       Words{},
       "fallback-command in pyproject.toml" + std::string(empty_tail)},
      {"an empty flag array", "[]", {}, {}, "--fallback-command" + std::string(empty_tail)},
      {"an empty variable is not JSON",
       {},
       "",
       {},
       "PINDREL_FALLBACK" + std::string(example) + ": EOF while parsing a value at line 1 column 0"},
      {"text after the array",
       R"(["a.sh"] x)",
       {},
       {},
       "--fallback-command" + std::string(example) + R"(["a.sh"] x: trailing characters at line 1 column 10)"},
      {"white space after the array", "[\"a.sh\"]\r\n\t ", {}, {}, R"(["a.sh"] (from --fallback-command))"},
      {"a variable that is not UTF-8",
       R"(["a.sh"])",
       "[\"\xFF\"]",
       {},
       R"(cannot read PINDREL_FALLBACK: environment variable was not valid unicode: "[\"\xFF\"]")"},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    Environment env;
    env.pindrel_fallback = c.variable;
    auto settled = settle_fallback_command(c.flag, c.configured, "/r", env);
    const std::string got = !settled   ? settled.error().render()
                            : *settled ? describe_fallback_command(**settled)
                                       : "none";
    EXPECT_EQ(got, c.expected);
  }
}

TEST(SettleFallbackCommand, ProgramWordWithADirectoryIsResolvedAgainstTheTopLevel) {
  struct Case {
    std::string word;
    std::string resolved;
  };
  const Case cases[] = {
      {"scripts/pick.sh", "/r/scripts/pick.sh"},
      {"./pick.sh", "/r/./pick.sh"},
      {"../pick.sh", "/r/../pick.sh"},
      {"a//b", "/r/a//b"},
      {"pick.sh", "pick.sh"},
      {"scripts/", "scripts/"},
      {"./", "./"},
      {"a/./", "a/./"},
      {"/opt/pick.sh", "/opt/pick.sh"},
      {"", ""},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.word);
    auto settled = settle_fallback_command(std::nullopt, std::vector<std::string>{c.word, "scripts/arg"}, "/r", {});
    ASSERT_TRUE(settled && *settled);
    EXPECT_EQ((*settled)->argv, (std::vector<std::string>{c.resolved, "scripts/arg"}));
  }
}

TEST(FallbackPayload, PrettyWithTheReportInTheWritersOrderAndOneFinalNewline) {
  changed::ChangedSymbols report;
  report.base = "main";
  report.merge_base = "abc123";
  report.ignored_symbols = {
      {"pkg.a:task", "pkg/a.py", pysource::DefinitionKind::function, 4, 5, changed::ChangeKind::added, "celery.task"}};
  report.non_python_changes = {"README.md"};
  CommandSpec spec = fallback_payload_json({1, "non_python_changes", &report});
  EXPECT_EQ(spec.env_settings,
            (std::vector<std::pair<std::string, std::string>>{{"PINDREL_FALLBACK_REASON", "non_python_changes"}}));
  EXPECT_TRUE(spec.env_removals.empty());
  EXPECT_EQ(spec.stdin_payload, R"({
  "pindrel_fallback_payload_version": 1,
  "reason": "non_python_changes",
  "report": {
    "base": "main",
    "merge_base": "abc123",
    "changed_symbols": [],
    "ignored_symbols": [
      {
        "symbol": "pkg.a:task",
        "file": "pkg/a.py",
        "kind": "function",
        "line": 4,
        "column": 5,
        "change": "added",
        "ignored_by": "celery.task"
      }
    ],
    "module_level_changes": [],
    "non_python_changes": [
      "README.md"
    ],
    "ignored_paths": [],
    "test_files_changed": [],
    "errors": []
  }
}
)");

  EXPECT_EQ(fallback_payload_json({1, "unspecified", nullptr}).stdin_payload, R"({
  "pindrel_fallback_payload_version": 1,
  "reason": "unspecified",
  "report": null
}
)");
}

}  // namespace
}  // namespace pindrel::run
