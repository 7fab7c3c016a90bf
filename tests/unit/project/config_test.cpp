#include "project/config.hpp"
#include "project/workspace.hpp"
#include "scratch.hpp"

#include <gtest/gtest.h>

#include <unistd.h>

namespace pindrel {
namespace {

using test_support::ScratchDir;
using test_support::ScratchRepo;
using test_support::write_file;

Result<Config> load(const ScratchDir& dir, std::string_view toml) {
  write_file(dir.path() / "pyproject.toml", toml);
  return load_config(dir.path());
}

TEST(LoadConfig, DefaultsWhenNothingIsSaid) {
  const std::string_view cases[] = {
      "",
      "[project]\nname = \"x\"\n",
      "[tool]\n",
      "[tool.other]\nmax-depth = \"not a number\"\nx = [1, \"mixed\", 2.5]\n",
      "[tool.pindrel]\nmax_depth = 3\nunknown = { a = 1 }\nfallback_command = 7\n",
      "title = 5\n[tool.pindrel]\n",
  };
  for (const auto toml : cases) {
    SCOPED_TRACE(toml);
    ScratchDir dir;
    auto config = load(dir, toml);
    ASSERT_TRUE(config) << config.error().render();
    EXPECT_EQ(*config, Config{});
  }
  ScratchDir empty;
  EXPECT_EQ(load_config(empty.path()), Config{});  // no pyproject.toml at all
}

TEST(LoadConfig, EveryKey) {
  ScratchDir dir;
  auto config = load(dir, R"([tool.pindrel]
ignore-decorators = ["app.route", "cache", "app.route"]
max-depth = 4294967295
max-symbols = 9223372036854775807
budget-ms = 0
suite-ms = 1500
pytest-command = ["python", "-m", "pytest"]
fallback-command = []
git-env = "inherit"
ignore-paths = ["docs/**", "*.md"]
)");
  ASSERT_TRUE(config) << config.error().render();
  Config expected;
  expected.ignore_decorators = {"app.route", "cache", "app.route"};
  expected.max_depth = 4294967295u;
  expected.max_symbols = 9223372036854775807u;
  expected.budget_ms = 0;
  expected.suite_ms = 1500;
  expected.pytest_command = {"python", "-m", "pytest"};
  expected.fallback_command = std::vector<std::string>{};  // present and empty, unlike absent
  expected.git_env = GitEnvPolicy::inherit;
  expected.ignore_paths = {"docs/**", "*.md"};
  EXPECT_EQ(*config, expected);
}

TEST(LoadConfig, GitEnvForms) {
  struct Case {
    std::string_view toml;
    GitEnvPolicy policy;
  };
  const Case cases[] = {
      {"[tool.pindrel]\ngit-env = \"isolate\"\n", GitEnvPolicy::isolate},
      {"[tool.pindrel]\ngit-env = { inherit = {} }\n", GitEnvPolicy::inherit},
      {"[tool.pindrel]\ngit-env = { isolate = [] }\n", GitEnvPolicy::isolate},
      {"[tool.pindrel.git-env.inherit]\n", GitEnvPolicy::inherit},
      {"tool.pindrel.max-depth = 0\ntool.pindrel.git-env = \"inherit\"\n", GitEnvPolicy::inherit},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.toml);
    ScratchDir dir;
    auto config = load(dir, c.toml);
    ASSERT_TRUE(config) << config.error().render();
    EXPECT_EQ(config->git_env, c.policy);
  }
}

// The reader's text below "cannot parse {}": position, the line with the span marked, the message.
std::string parse_error(const ScratchDir& dir, std::string_view toml) {
  auto config = load(dir, toml);
  if (config) return "loaded";
  const auto chain = config.error().chain();
  EXPECT_EQ(chain.size(), 2u);
  EXPECT_EQ(chain.front(), "cannot parse " + (dir.path() / "pyproject.toml").native());
  return chain.back();
}

TEST(LoadConfig, ConversionMessages) {
  struct Case {
    std::string_view value;  // the right-hand side of the line "key = value" under [tool.pindrel]
    std::string_view key;
    std::string_view message;
    std::size_t column = 0;  // where the marked span starts; 0: at the value
  };
  const Case cases[] = {
      {"-1", "max-depth", "invalid value: integer `-1`, expected u32"},
      {"4294967296", "max-depth", "invalid value: integer `4294967296`, expected u32"},
      {"true", "max-depth", "invalid type: boolean `true`, expected u32"},
      {"-1", "max-symbols", "invalid value: integer `-1`, expected usize"},
      {"1.5", "budget-ms", "invalid type: floating point `1.5`, expected u64"},
      {"2.0", "suite-ms", "invalid type: floating point `2.0`, expected u64"},
      {"1e21", "suite-ms", "invalid type: floating point `1000000000000000000000.0`, expected u64"},
      {"nan", "suite-ms", "invalid type: floating point `NaN`, expected u64"},
      {"\"10\"", "suite-ms", "invalid type: string \"10\", expected u64"},
      {"[1]", "budget-ms", "invalid type: sequence, expected u64"},
      {"1979-05-27", "budget-ms", "invalid type: map, expected u64"},
      {"\"pytest\"", "pytest-command", "invalid type: string \"pytest\", expected a sequence"},
      {"{ a = 1 }", "fallback-command", "invalid type: map, expected a sequence"},
      {"[\"a\", 1]", "ignore-decorators", "invalid type: integer `1`, expected a string", 27},
      {"[[\"a\"]]", "ignore-paths", "invalid type: sequence, expected a string", 17},
      {"'a\"b\\c'", "ignore-paths", "invalid type: string \"a\\\"b\\\\c\", expected a sequence"},
      {"\"tab\\there\\n\\u0001\"", "ignore-paths", "invalid type: string \"tab\\there\\n\\u{1}\", expected a sequence"},
      {"\"Inherit\"", "git-env", "unknown variant `Inherit`, expected `isolate` or `inherit`"},
      {"\"\"", "git-env", "unknown variant ``, expected `isolate` or `inherit`"},
      {"1", "git-env", "wanted string or table"},
      {"[\"inherit\"]", "git-env", "wanted string or table"},
      {"{}", "git-env", "wanted exactly 1 element, found 0 elements"},
      {"{ inherit = {}, isolate = {} }", "git-env", "wanted exactly 1 element, more than 1 element"},
      {"{ other = {} }", "git-env", "unknown variant `other`, expected `isolate` or `inherit`", 13},
      {"{ inherit = 1 }", "git-env", "expected table, found integer", 23},
      {"{ inherit = [1] }", "git-env", "expected empty array", 23},
  };
  for (const auto& c : cases) {
    const std::string toml = "[tool.pindrel]\n" + std::string(c.key) + " = " + std::string(c.value) + "\n";
    SCOPED_TRACE(toml);
    ScratchDir dir;
    const std::string text = parse_error(dir, toml);
    const std::size_t column = c.column != 0 ? c.column : c.key.size() + 4;
    EXPECT_TRUE(text.starts_with("TOML parse error at line 2, column " + std::to_string(column) + "\n")) << text;
    EXPECT_TRUE(text.ends_with("\n" + std::string(c.message))) << text;
  }
}

TEST(LoadConfig, OuterLevelsMustBeTables) {
  struct Case {
    std::string_view toml;
    std::string_view message;
  };
  const Case cases[] = {
      {"tool = 5\n", "invalid type: integer `5`, expected struct Tool"},
      {"[[tool]]\n", "invalid type: sequence, expected struct Tool"},
      {"[tool]\npindrel = \"x\"\n", "invalid type: string \"x\", expected struct Config"},
      {"[tool]\npindrel = [[], 3]\n", "invalid type: sequence, expected struct Config"},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.toml);
    ScratchDir dir;
    const std::string text = parse_error(dir, c.toml);
    EXPECT_TRUE(text.ends_with("\n" + std::string(c.message))) << text;
  }
}

TEST(LoadConfig, ErrorShowsTheLineWithTheSpanMarked) {
  ScratchDir dir;
  EXPECT_EQ(parse_error(dir, "[tool.pindrel]\nmax-depth = -1\n"),
            "TOML parse error at line 2, column 13\n"
            "  |\n"
            "2 | max-depth = -1\n"
            "  |             ^^\n"
            "invalid value: integer `-1`, expected u32");

  // Columns count characters, the gutter widens with the line number, and a line ending
  // "\r\n" is shown without its "\r".
  std::string toml = "# \xC3\xA9\n[tool.pindrel]\n";
  for (int i = 0; i < 9; ++i) toml += "# \xC3\xA9t\xC3\xA9\n";
  toml += "git-env = \"\xC3\xA9t\xC3\xA9\"\r\n";
  EXPECT_EQ(parse_error(dir, toml),
            "TOML parse error at line 12, column 11\n"
            "   |\n"
            "12 | git-env = \"\xC3\xA9t\xC3\xA9\"\n"
            "   |           ^^^^^\n"
            "unknown variant `\xC3\xA9t\xC3\xA9`, expected `isolate` or `inherit`");
}

TEST(LoadConfig, SyntaxErrorsComeFromTheReader) {
  struct Case {
    std::string_view toml;
    std::string_view header;
  };
  const Case cases[] = {
      {"[tool.pindrel]\nmax-depth = 1\nmax-depth = 2\n", "TOML parse error at line 3, column "},
      {"[tool.pindrel]\n[tool.pindrel]\n", "TOML parse error at line 2, column "},
      {"[tool.pindrel]\nmax-symbols = 99999999999999999999\n", "TOML parse error at line 2, column "},
      {"[tool.pindrel\n", "TOML parse error at line 1, column "},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.toml);
    ScratchDir dir;
    const std::string text = parse_error(dir, c.toml);
    EXPECT_TRUE(text.starts_with(c.header)) << text;
  }
}

TEST(LoadConfig, TheFirstBadKeyInTheFileIsReported) {
  ScratchDir dir;
  const std::string text = parse_error(dir, "[tool.pindrel]\nsuite-ms = -1\nbudget-ms = -2\nmax-depth = -3\n");
  EXPECT_TRUE(text.ends_with("invalid value: integer `-1`, expected u64")) << text;
}

TEST(LoadConfig, UnreadableFile) {
  ScratchDir dir;
  const std::string path = (dir.path() / "pyproject.toml").native();
  auto bad_bytes = load(dir, "[tool.pindrel]\nignore-paths = [\"caf\xE9\"]\n");
  ASSERT_FALSE(bad_bytes);
  EXPECT_EQ(bad_bytes.error().chain(),
            (std::vector<std::string>{"cannot read " + path, "stream did not contain valid UTF-8"}));

  std::filesystem::remove(path);
  std::filesystem::create_directory(path);
  auto directory = load_config(dir.path());
  ASSERT_FALSE(directory);
  EXPECT_EQ(directory.error().chain(),
            (std::vector<std::string>{"cannot read " + path, "Is a directory (os error 21)"}));

  if (::geteuid() != 0) {  // root reads whatever the permissions say
    std::filesystem::remove(path);
    write_file(path, "");
    std::filesystem::permissions(path, std::filesystem::perms::none);
    EXPECT_EQ(load_config(dir.path()).error().render(), "cannot read " + path + ": Permission denied (os error 13)");
  }
}

TEST(LoadConfig, IgnorePathsAreCheckedInOrder) {
  struct Case {
    std::string_view list;
    std::string_view message;
  };
  const Case cases[] = {
      {R"(["docs/**", "/abs", ""])", "`/abs` is absolute; patterns are relative to the repository root"},
      {R"(["", "/abs"])", "an empty pattern matches nothing"},
      {R"(["a/**b"])", "`a/**b`: `**` must be a whole path segment, as in `docs/**` or `**/*.md`"},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.list);
    ScratchDir dir;
    auto config = load(dir, "[tool.pindrel]\nignore-paths = " + std::string(c.list) + "\n");
    ASSERT_FALSE(config);
    EXPECT_EQ(config.error().chain(),
              (std::vector<std::string>{"invalid `ignore-paths` entry in " + (dir.path() / "pyproject.toml").native(),
                                        std::string(c.message)}));
  }
}

Environment environment_with_git() {
  Environment env;
  env.path_search = PathSearch::from_process();
  return env;
}

TEST(OpenProject, SubdirectoryOpensTheTopLevel) {
  ScratchRepo repo;
  repo.write("pyproject.toml", "[tool.pindrel]\nmax-depth = 3\n");
  repo.write("sub/pyproject.toml", "[tool.pindrel]\nmax-depth = \"never read\"\n");
  repo.commit("base");

  auto workspace = open_project(repo.path() / "sub", environment_with_git());
  ASSERT_TRUE(workspace) << workspace.error().render();
  EXPECT_EQ(workspace->root, repo.path().native());
  EXPECT_EQ(workspace->git.directory, repo.path());
  EXPECT_TRUE(workspace->git.executable.is_absolute());
  EXPECT_EQ(workspace->config.max_depth, 3u);
}

TEST(OpenProject, TopLevelNameKeepsItsTrailingWhiteSpace) {
  ScratchDir dir;
  test_support::pin_git_environment();
  const auto top = dir.path() / "repo \t";
  std::filesystem::create_directories(top / "sub");
  ASSERT_TRUE(run_captured(Command{{"git", "init", "-q"}, top}));
  write_file(top / "pyproject.toml", "[tool.pindrel]\nmax-depth = 3\n");

  auto workspace = open_project(top / "sub", environment_with_git());
  ASSERT_TRUE(workspace) << workspace.error().render();
  EXPECT_EQ(workspace->root, top.native());
  EXPECT_EQ(workspace->git.directory, top);
  EXPECT_EQ(workspace->config.max_depth, 3u);
}

TEST(OpenProject, RelativeGitPathIsTakenFromTheStartingDirectory) {
  ScratchDir start;
  write_file(start.path() / "bin/git", "#!/bin/sh\nexec git \"$@\"\n", test_support::FileMode::executable);
  ScratchRepo repo;
  std::filesystem::create_directories(repo.path() / "sub");

  struct Case {
    std::string pindrel_git;
    std::filesystem::path executable;
  };
  const Case cases[] = {
      {"bin/git", start.path() / "bin/git"},
      {"./bin/git", start.path() / "./bin/git"},
      {"git", "git"},  // a bare name is searched on PATH when git starts
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.pindrel_git);
    Environment env;
    env.pindrel_git = c.pindrel_git;
    env.path_search = PathSearch::from_process();
    env.path_search.current_dir = start.path();
    auto workspace = open_project(repo.path() / "sub", env);
    ASSERT_TRUE(workspace) << workspace.error().render();
    EXPECT_EQ(workspace->git.executable, c.executable);
    EXPECT_EQ(workspace->root, repo.path().native());
  }
}

TEST(OpenProject, ConfigurationErrorsPassUnchanged) {
  ScratchRepo repo;
  repo.write("pyproject.toml", "[tool.pindrel]\nmax-depth = -1\n");
  auto workspace = open_project(repo.path(), environment_with_git());
  ASSERT_FALSE(workspace);
  EXPECT_EQ(workspace.error().message(), "cannot parse " + (repo.path() / "pyproject.toml").native());
}

TEST(OpenProject, OutsideARepository) {
  ScratchDir dir;
  test_support::pin_git_environment();
  auto workspace = open_project(dir.path(), environment_with_git());
  ASSERT_FALSE(workspace);
  const auto chain = workspace.error().chain();
  ASSERT_EQ(chain.size(), 2u);
  EXPECT_EQ(chain[0], dir.path().native() + " is not inside a git repository");
  EXPECT_TRUE(chain[1].starts_with("`git` exit status: 128 — fatal: not a git repository")) << chain[1];
}

TEST(OpenProject, FindingGit) {
  ScratchDir dir;
  struct Case {
    std::optional<std::string> pindrel_git;
    PathSearch path_search;
    std::string message;
  };
  const Case cases[] = {
      {"",
       {},
       dir.path().native() +
           " is not inside a git repository: failed to spawn ``: No such file or directory (os error 2)"},
      {"/nonexistent/git",
       {},
       dir.path().native() + " is not inside a git repository: failed to spawn `/nonexistent/git`: No such file or "
                             "directory (os error 2)"},
      {std::nullopt, {dir.path().native(), std::nullopt, "/"}, "`git` not found on PATH: cannot find binary path"},
      {std::nullopt,
       {std::nullopt, std::nullopt, "/"},
       "`git` not found on PATH: no path to search and provided name is not an absolute path"},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.message);
    Environment env;
    env.pindrel_git = c.pindrel_git;
    env.path_search = c.path_search;
    auto workspace = open_project(dir.path(), env);
    ASSERT_FALSE(workspace);
    EXPECT_EQ(workspace.error().render(), c.message);
  }
}

}  // namespace
}  // namespace pindrel
