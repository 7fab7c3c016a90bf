#include "project/workspace_root.hpp"

#include <gtest/gtest.h>

#include <fstream>

namespace pindrel {
namespace {

namespace fs = std::filesystem;

class WorkspaceRoot : public ::testing::Test {
 protected:
  void SetUp() override {
    char tmpl[] = "/tmp/pindrel-root-XXXXXX";
    ASSERT_NE(::mkdtemp(tmpl), nullptr);
    top_ = fs::canonical(tmpl);
  }
  void TearDown() override { fs::remove_all(top_); }
  void touch(const fs::path& p) {
    fs::create_directories(p.parent_path());
    std::ofstream(p).put('\n');
  }
  fs::path top_;
};

TEST_F(WorkspaceRoot, NearestMarkedAncestorWins) {
  touch(top_ / "pyproject.toml");
  fs::create_directories(top_ / "pkg/sub");
  EXPECT_EQ(find_marked_ancestor(top_ / "pkg/sub").value(), top_);
  touch(top_ / "pkg/setup.cfg");
  EXPECT_EQ(find_marked_ancestor(top_ / "pkg/sub").value(), top_ / "pkg");
}

TEST_F(WorkspaceRoot, DirectoryMarkerCountsDanglingLinkDoesNot) {
  fs::create_directories(top_ / "a/setup.py");
  EXPECT_EQ(find_marked_ancestor(top_ / "a").value(), top_ / "a");
  fs::create_directories(top_ / "b/inner");
  fs::create_symlink(top_ / "missing", top_ / "b/pyproject.toml");
  touch(top_ / "b/inner/x");
  touch(top_ / ".git");
  EXPECT_EQ(find_marked_ancestor(top_ / "b/inner/x").value(), top_);  // a file starts at its parent
}

TEST_F(WorkspaceRoot, WorkspaceOptionIsCanonicalWithoutMarkers) {
  fs::create_directories(top_ / "plain");
  EXPECT_EQ(find_workspace_root(top_ / "plain/../plain").value(), top_ / "plain");
  struct Refused {
    fs::path workspace;
    std::string_view message;
  };
  const Refused refused[] = {
      {"does/not exist", "cannot resolve --workspace does/not exist: No such file or directory (os error 2)"},
      {"", "cannot resolve --workspace : No such file or directory (os error 2)"},
  };
  for (const auto& r : refused) {
    auto found = find_workspace_root(r.workspace);
    ASSERT_FALSE(found) << r.workspace;
    EXPECT_EQ(found.error().render(), r.message);
  }
}

TEST(WorkspaceRootMessage, NamesStartAndMarkers) {
  // The file-system root holds none of the markers on a test machine.
  auto none = find_marked_ancestor("/proc/self");
  ASSERT_FALSE(none);
  EXPECT_EQ(none.error().render(),
            "no Python project root above /proc/self (looked for pyproject.toml, setup.py, setup.cfg, .git)");
}

}  // namespace
}  // namespace pindrel
