#include "changed/file_version.hpp"
#include "scratch.hpp"

#include <gtest/gtest.h>

namespace pindrel::changed {
namespace {

using test_support::ScratchDir;
using test_support::ScratchRepo;
using test_support::write_file;

// Both steps, as the report takes them for one side.
Result<std::optional<FileVersion>> load_file_version(const std::optional<std::string>& path, const GitHandle& git,
                                                     const std::filesystem::path& root, std::string_view merge_base,
                                                     Side side) {
  return outline_version(path, root, read_version_text(path, git, root, merge_base, side));
}

TEST(FileVersion, BlankLines) {
  struct Case {
    std::string_view text;
    std::vector<bool> blank;
  };
  const Case cases[] = {
      {"", {}},
      {"\n", {true}},
      {"a\n", {false}},
      {"a\n\n", {false, true}},
      {"a\nb", {false, false}},
      {"x = 1\r\n \t\r\n", {false, true}},
      {"\xC2\xA0\n\xE2\x80\x83x\n", {true, false}},  // no-break and em spaces are white space
      {"\r", {true}},                                // a lone carriage return is white space too
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(std::string(c.text));
    EXPECT_EQ(blank_line_flags(c.text), c.blank);
  }
}

TEST(FileVersion, ModuleNames) {
  ScratchDir root;
  write_file(root.path() / "pkg/__init__.py", "");
  struct Case {
    std::string_view path;
    std::string_view module;
  };
  const Case cases[] = {
      {"pkg/mod.py", "pkg.mod"},      {"pkg/__init__.py", "pkg"},
      {"__init__.py", "__init__"},  // no package chain: the path less its extension
      {"scripts/run", "scripts.run"}, {"scripts/run.sh", "scripts.run"},
      {"a/b.c.txt", "a.b.c"},         {"d/.hidden", "d..hidden"},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(std::string(c.path));
    EXPECT_EQ(module_for_path(root.path(), c.path), c.module);
  }
}

TEST(FileVersion, AllLines) {
  EXPECT_EQ(all_lines(std::nullopt), std::vector<LineSpan>{});
  EXPECT_EQ(all_lines(FileVersion{"m.py", "m", {}, {}, nullptr}), std::vector<LineSpan>{});
  FileVersion version{"m.py", "m", {}, {false, true, false}, nullptr};
  EXPECT_EQ(all_lines(version), (std::vector<LineSpan>{{1, 3}}));
}

TEST(FileVersion, BothSides) {
  ScratchRepo repo;
  repo.write("pkg/__init__.py", "");
  repo.write("pkg/mod.py", "def f():\n    pass\n");
  const std::string base = repo.commit("base");
  repo.write("pkg/mod.py", "class C:\n\n    def m(self):\n        pass\n");
  repo.write("pkg/new.py", "x = 1\n");
  const GitHandle git{"git", repo.path()};

  auto old_side = load_file_version("pkg/mod.py", git, repo.path(), base, Side::merge_base);
  ASSERT_TRUE(old_side && *old_side) << (old_side ? "absent" : old_side.error().render());
  EXPECT_EQ((*old_side)->module, "pkg.mod");
  ASSERT_EQ((*old_side)->outline.definitions.size(), 1u);
  EXPECT_EQ((*old_side)->outline.definitions[0].qualname, "f");

  auto new_side = load_file_version("pkg/mod.py", git, repo.path(), base, Side::working_tree);
  ASSERT_TRUE(new_side && *new_side);
  EXPECT_EQ((*new_side)->path, "pkg/mod.py");
  EXPECT_EQ((*new_side)->blank_lines, (std::vector<bool>{false, true, false, false}));
  EXPECT_EQ((*new_side)->outline.definitions.size(), 2u);

  // A file the merge base does not hold, a file gone from the working tree, no path at all.
  for (const auto& [path, side] : {std::pair{"pkg/new.py", Side::merge_base}, {"pkg/gone.py", Side::working_tree}}) {
    auto absent = load_file_version(path, git, repo.path(), base, side);
    ASSERT_TRUE(absent) << absent.error().render();
    EXPECT_FALSE(*absent) << path;
  }
  auto none = load_file_version(std::nullopt, git, repo.path(), base, Side::working_tree);
  ASSERT_TRUE(none);
  EXPECT_FALSE(*none);
}

TEST(FileVersion, ReadFailures) {
  ScratchRepo repo;
  repo.write("mod.py", "x = 1\n");
  const std::string base = repo.commit("base");
  repo.write("bad.py", "x = '\xFF'\n");
  std::filesystem::create_directories(repo.path() / "dir.py");

  struct Case {
    std::string_view path;
    Side side;
    GitHandle git;
    std::string_view message;
  };
  const Case cases[] = {
      {"bad.py", Side::working_tree, {"git", repo.path()}, "could not read bad.py: stream did not contain valid UTF-8"},
      {"dir.py", Side::working_tree, {"git", repo.path()}, "could not read dir.py: Is a directory (os error 21)"},
      {"mod.py",
       Side::merge_base,
       {"/nonexistent/git", repo.path()},
       "could not read mod.py at the merge base: failed to spawn `/nonexistent/git`: "
       "No such file or directory (os error 2)"},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(std::string(c.path));
    auto version = load_file_version(std::string(c.path), c.git, repo.path(), base, c.side);
    ASSERT_FALSE(version);
    EXPECT_EQ(version.error().render(), c.message);
  }
}

}  // namespace
}  // namespace pindrel::changed
