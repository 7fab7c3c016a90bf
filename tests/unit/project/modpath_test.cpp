#include "project/modpath.hpp"
#include "scratch.hpp"

#include <gtest/gtest.h>

#include <set>

namespace pindrel {
namespace {

using test_support::ScratchDir;
using test_support::write_file;

TEST(PyExtension, ExactOrAnyAsciiCase) {
  struct Case {
    std::string_view path;
    bool exact;
    bool any_case;
  };
  const Case cases[] = {
      {"m.py", true, true},       {"pkg/a.b.py", true, true}, {"..py", true, true},    {"x.PY", false, true},
      {"x.pY", false, true},      {"m.pyc", false, false},    {"m.p", false, false},   {"py", false, false},
      {".py", false, false},      {"pkg/.py", false, false},  {"a.py/", false, false}, {"a.py/..", false, false},
      {"dir.py/m", false, false}, {"", false, false},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.path);
    EXPECT_EQ(has_py_extension(c.path, ExtensionCase::exact), c.exact);
    EXPECT_EQ(has_py_extension(c.path, ExtensionCase::any_ascii), c.any_case);
  }
}

TEST(ModuleName, PackageChainOnDisk) {
  ScratchDir root;
  for (const char* init :
       {"pkg/__init__.py", "pkg/sub/__init__.py", "src/lib/__init__.py", "a/b/__init__.py", "x/y/__init__.py"}) {
    write_file(root.path() / init, "");
  }
  // A symbolic link counts as the file it leads to.
  write_file(root.path() / "real_init.py", "");
  std::filesystem::create_directories(root.path() / "linked");
  std::filesystem::create_symlink(root.path() / "real_init.py", root.path() / "linked/__init__.py");
  std::filesystem::create_directories(root.path() / "dangling");
  std::filesystem::create_symlink(root.path() / "missing.py", root.path() / "dangling/__init__.py");

  struct Case {
    std::string_view path;
    std::optional<std::string> module;
  };
  const Case cases[] = {
      {"pkg/sub/mod.py", "pkg.sub.mod"},
      {"pkg/sub/__init__.py", "pkg.sub"},
      {"pkg//sub/./mod.py", "pkg.sub.mod"},
      {"src/lib/mod.py", "lib.mod"},
      {"src/tools/run.py", "tools.run"},
      {"scripts/run.py", "scripts.run"},
      {"run.py", "run"},
      {"__init__.py", std::nullopt},
      {"src/__init__.py", std::nullopt},  // no `src/__init__.py` on disk
      {"a/b/c.py", "b.c"},                // the chain stops at a, which has no `__init__.py`
      {"x/y/z/deep.py", "x.y.z.deep"},    // z has none: no chain, so every directory counts
      {"linked/m.py", "linked.m"},
      {"dangling/m.py", "dangling.m"},  // no chain: the link leads nowhere, but the directory still counts
      {"pkg/mod.PY", std::nullopt},
      {"pkg/mod.pyi", std::nullopt},
      {"README.md", std::nullopt},
      {".py", std::nullopt},
      {"pkg/a.b.py", "pkg.a.b"},
      {"", std::nullopt},
      {"pkg/..", std::nullopt},
      {"bad\xFF/ok/m.py", "ok.m"},  // a directory name that is not UTF-8 is left out
      {"pkg/m\xFF.py", std::nullopt},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.path);
    EXPECT_EQ(module_name_for_path(root.path(), std::string(c.path)), c.module);
  }

  write_file(root.path() / "src/__init__.py", "");
  EXPECT_EQ(module_name_for_path(root.path(), "src/__init__.py"), "src");
  EXPECT_EQ(module_name_for_path(root.path(), "src/lib/mod.py"), "src.lib.mod");
}

TEST(ModuleName, ProbeSeesOneSpellingPerDirectoryAndStopsAtTheFirstMiss) {
  const std::set<std::string> packages = {"a/b", "a/b/c"};
  std::vector<std::string> asked;
  const InitFileProbe probe = [&](const std::filesystem::path& dir) {
    asked.push_back(dir.native());
    return packages.contains(dir.native());
  };
  EXPECT_EQ(module_name_for_path("a//b/./c/m.py", probe), "b.c.m");
  EXPECT_EQ(asked, (std::vector<std::string>{"a/b/c", "a/b", "a"}));
}

TEST(TestFile, Rule) {
  struct Case {
    std::string_view path;
    bool test;
  };
  const Case cases[] = {
      {"tests/util.py", true},      {"pkg/test/util.py", true}, {"tests", true},         {"pkg/tests/data.json", true},
      {"pkg/Tests/util.py", false}, {"test_api.py", true},      {"api_test.py", true},   {"pkg/test_api.PY", true},
      {"pkg/test_api.pY", true},    {"test_.py", true},         {"_test.py", true},      {"test.py", false},
      {"tests.py", false},          {"testing.py", false},      {"mytest.py", false},    {"test_api.pyc", false},
      {"test_api", false},          {"pkg/.test_x", false},     {"test_\xFF.py", false}, {"\xFF_test.py", false},
      {"conftest.py", true},        {"lib/conftest.py", true},  {"conftest.pyc", false},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.path);
    EXPECT_EQ(is_test_file(std::string(c.path), "/repo"), c.test);
  }
}

TEST(TestFile, OnlyThePartBelowTheRootCounts) {
  EXPECT_FALSE(is_test_file("/work/tests/repo/pkg/util.py", "/work/tests/repo"));
  EXPECT_FALSE(is_test_file("/work/tests/repo//pkg/util.py", "/work/tests/repo/"));
  EXPECT_TRUE(is_test_file("/work/tests/repo/pkg/tests/util.py", "/work/tests/repo"));
  // Not under the root: the whole path is judged.
  EXPECT_TRUE(is_test_file("/work/tests/other/util.py", "/work/tests/repo"));
  EXPECT_TRUE(is_test_file("/work/tests/repository/util.py", "/work/tests/repo"));
  EXPECT_FALSE(is_test_file("pkg/util.py", "/work/tests/repo"));
}

}  // namespace
}  // namespace pindrel
