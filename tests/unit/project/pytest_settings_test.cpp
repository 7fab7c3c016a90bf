#include "project/config.hpp"
#include "project/pytest_ini.hpp"
#include "scratch.hpp"

#include <gtest/gtest.h>

#include <string>
#include <utility>
#include <vector>

namespace pindrel {
namespace {

using test_support::ScratchDir;
using test_support::write_file;
using Files = std::vector<std::pair<std::string, std::string>>;
using Words = std::vector<std::string>;

Result<PytestSettings> load(const Files& files) {
  ScratchDir dir;
  for (const auto& [name, text] : files) write_file(dir.path() / name, text);
  return load_pytest_settings(dir.path());
}

TEST(LoadPytestSettings, TheFilePytestWouldTake) {
  struct Case {
    std::string name;
    Files files;
    std::optional<Words> python_files;  // the winner's
  };
  const std::string tox = "[pytest]\npython_files = tox.py\n";
  const std::string cfg = "[tool:pytest]\npython_files = cfg.py\n";
  const Case cases[] = {
      {"nothing at all", {}, std::nullopt},
      {"pytest.ini wins even without its section", {{"pytest.ini", "[other]\n"}, {"tox.ini", tox}}, std::nullopt},
      {"pytest.ini with its section",
       {{"pytest.ini", "[pytest]\npython_files = ini.py\n"}, {"tox.ini", tox}},
       Words{"ini.py"}},
      {".pytest.ini only with its section", {{".pytest.ini", "[other]\n"}, {"tox.ini", tox}}, Words{"tox.py"}},
      {"pyproject.toml with the table",
       {{"pyproject.toml", "[tool.pytest.ini_options]\npython_files = [\"toml.py\", \"b c.py\"]\n"}, {"tox.ini", tox}},
       Words{"toml.py", "b c.py"}},
      {"pyproject.toml without the table", {{"pyproject.toml", "[tool.pindrel]\n"}, {"tox.ini", tox}}, Words{"tox.py"}},
      {"tox.ini without [pytest]", {{"tox.ini", "[tox]\nenvlist = py\n"}, {"setup.cfg", cfg}}, Words{"cfg.py"}},
      {"setup.cfg's [pytest] is not its section", {{"setup.cfg", "[pytest]\npython_files = x.py\n"}}, std::nullopt},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    auto settings = load(c.files);
    ASSERT_TRUE(settings) << settings.error().render();
    EXPECT_EQ(settings->python_files, c.python_files);
  }
}

TEST(LoadPytestSettings, ListValuesAreWords) {
  auto ini = load({{"tox.ini",
                    "[pytest]\n"
                    "python_files =\n    a_*.py\n\n    'b c.py'  # not a comment\n"
                    "python_classes: Check\n"
                    "python_functions =\n"
                    "usefixtures = env \"db\"\n"
                    "addopts = -p no:cacheprovider --doctest-modules\n"
                    "pythonpath = lib 'packages/a b/src'\n"
                    "other = 'unclosed\n"}});
  ASSERT_TRUE(ini) << ini.error().render();
  EXPECT_EQ(ini->python_files, (Words{"a_*.py", "b c.py", "#", "not", "a", "comment"}));
  EXPECT_EQ(ini->python_classes, Words{"Check"});
  EXPECT_EQ(ini->python_functions, Words{});
  EXPECT_EQ(ini->usefixtures, (Words{"env", "db"}));
  EXPECT_EQ(ini->addopts, (Words{"-p", "no:cacheprovider", "--doctest-modules"}));
  EXPECT_EQ(ini->pythonpath, (Words{"lib", "packages/a b/src"}));

  auto toml = load({{"pyproject.toml",
                     "[tool.pytest.ini_options]\nusefixtures = \"env db\"\naddopts = [\"-q\"]\npythonpath = [\"src\"]\n"
                     "minversion = 7.0\n"}});
  ASSERT_TRUE(toml) << toml.error().render();
  EXPECT_EQ(toml->usefixtures, (Words{"env", "db"}));
  EXPECT_EQ(toml->addopts, Words{"-q"});
  EXPECT_EQ(toml->pythonpath, Words{"src"});
}

TEST(LoadPytestSettings, WhatCannotBeReadIsAnError) {
  struct Case {
    Files files;
    std::string message;  // after the path
  };
  const Case cases[] = {
      {{{"tox.ini", "[pytest]\noops\n"}}, "tox.ini: line 2: unexpected line: 'oops'"},
      {{{"tox.ini", "key = 1\n"}}, "tox.ini: line 1: no section header defined"},
      {{{"tox.ini", "[a]\n  more\n"}}, "tox.ini: line 2: unexpected value continuation"},
      {{{"tox.ini", "[a]\n[a]\n"}}, "tox.ini: line 2: duplicate section 'a'"},
      {{{"tox.ini", "[a]\nk = 1\nk = 2\n"}}, "tox.ini: line 3: duplicate name 'k'"},
      {{{"tox.ini", "[]\n"}}, "tox.ini: line 1: empty section name"},
      {{{"setup.cfg", "[tool:pytest]\naddopts = \"-q\n"}}, "setup.cfg: `addopts`: No closing quotation"},
      {{{"pyproject.toml", "[tool.pytest.ini_options]\npython_files = 5\n"}},
       "pyproject.toml: TOML parse error at line 2, column 16\n  |\n2 | python_files = 5\n  |"
       "                ^\ninvalid type: integer `5`, expected a string or a sequence"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.message);
    ScratchDir dir;
    for (const auto& [name, text] : c.files) write_file(dir.path() / name, text);
    auto settings = load_pytest_settings(dir.path());
    ASSERT_FALSE(settings);
    EXPECT_EQ(settings.error().render(), "cannot parse " + dir.path().native() + "/" + c.message);
  }
  // A file that never comes to be read changes nothing.
  EXPECT_TRUE(load({{"pytest.ini", ""}, {"tox.ini", "oops\n"}}));
}

TEST(PytestIni, SectionsKeysAndContinuations) {
  auto sections = parse_ini(
      "; comment\n[a] # header comment\nk1 = v = w\nk2: x = y\nk3 =\n\n  # skipped\n  one\n"
      "\ttwo\r\n[b]\nempty =\n");
  ASSERT_TRUE(sections) << sections.error().render();
  const IniSections expected = {{"a", {{"k1", "v = w"}, {"k2", "x = y"}, {"k3", "one\ntwo"}}}, {"b", {{"empty", ""}}}};
  EXPECT_EQ(*sections, expected);
}

TEST(PytestIni, ShellWords) {
  EXPECT_EQ(split_shell_words(R"(a 'b c' "d \"e\" \x" f\ g '')"), (Words{"a", "b c", R"(d "e" \x)", "f g", ""}));
  EXPECT_EQ(split_shell_words("  \n "), Words{});
  EXPECT_EQ(split_shell_words("a\\").error().render(), "No escaped character");
}

}  // namespace
}  // namespace pindrel
