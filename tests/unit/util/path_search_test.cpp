#include "scratch.hpp"
#include "util/path_search.hpp"

#include <gtest/gtest.h>

#include <sys/stat.h>

namespace pindrel {
namespace {

using test_support::ScratchDir;
using test_support::write_file;

PathSearch search_in(const std::filesystem::path& cwd, std::optional<std::string> path,
                     std::optional<std::string> home = std::nullopt) {
  return PathSearch{std::move(path), std::move(home), cwd};
}

TEST(FindOnPath, FirstExecutableRegularFileWins) {
  ScratchDir dir;
  const auto& d = dir.path();
  write_file(d / "plain/tool", "");                     // not executable
  std::filesystem::create_directories(d / "dir/tool");  // a directory
  write_file(d / "real/tool", "#!/bin/sh\n", test_support::FileMode::executable);
  std::filesystem::create_directories(d / "link");
  std::filesystem::create_symlink(d / "real/tool", d / "link/tool");
  write_file(d / "later/tool", "#!/bin/sh\n", test_support::FileMode::executable);

  const std::string entries = (d / "missing").native() + ":" + (d / "plain").native() + ":" + (d / "dir").native();
  auto found =
      find_on_path("tool", search_in("/", entries + ":" + (d / "link").native() + ":" + (d / "real").native()));
  ASSERT_TRUE(found) << found.error().render();
  EXPECT_EQ(*found, d / "link/tool");  // the link as built, not where it leads

  auto none = find_on_path("tool", search_in("/", entries));
  ASSERT_FALSE(none);
  EXPECT_EQ(none.error().render(), "cannot find binary path");
}

TEST(FindOnPath, RelativeAndEmptyEntriesAreTakenFromTheCurrentDirectory) {
  ScratchDir dir;
  write_file(dir.path() / "tools/qlo", "#!/bin/sh\n", test_support::FileMode::executable);
  write_file(dir.path() / "qlo", "#!/bin/sh\n", test_support::FileMode::executable);

  struct Case {
    std::string path;
    std::filesystem::path found;
  };
  const Case cases[] = {
      {"tools", dir.path() / "tools/qlo"},
      {"./tools", dir.path() / "./tools/qlo"},
      {"/nonexistent:tools", dir.path() / "tools/qlo"},
      {"", dir.path() / "qlo"},
      {"/nonexistent:", dir.path() / "qlo"},
      {"::tools", dir.path() / "qlo"},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.path);
    auto found = find_on_path("qlo", search_in(dir.path(), c.path));
    ASSERT_TRUE(found) << found.error().render();
    // Absolute, so it names the same file when the program starts in another directory.
    EXPECT_EQ(*found, c.found);
  }
}

TEST(FindOnPath, TildeStandsForTheHomeDirectory) {
  ScratchDir dir;
  write_file(dir.path() / "bin/tool", "#!/bin/sh\n", test_support::FileMode::executable);
  auto found = find_on_path("tool", search_in("/", "/nonexistent:~/bin", dir.path().native()));
  ASSERT_TRUE(found) << found.error().render();
  EXPECT_EQ(*found, dir.path() / "bin/tool");
  // "~" only as a whole first component.
  EXPECT_FALSE(find_on_path("tool", search_in("/", "~bin", dir.path().native())));
}

TEST(FindOnPath, UnsetPathIsItsOwnError) {
  auto found = find_on_path("git", search_in("/", std::nullopt));
  ASSERT_FALSE(found);
  EXPECT_EQ(found.error().render(), "no path to search and provided name is not an absolute path");
}

}  // namespace
}  // namespace pindrel
