#include "qlo/strip_root.hpp"

#include <gtest/gtest.h>

namespace pindrel {
namespace {

TEST(StripRoot, WholeComponentsOnly) {
  struct Case {
    std::filesystem::path path;
    std::filesystem::path root;
    std::optional<std::filesystem::path> stripped;
  };
  const Case cases[] = {
      {"/repo/pkg/a.py", "/repo", "pkg/a.py"},     {"/repo//pkg/a.py", "/repo/", "pkg/a.py"},
      {"/repository/a.py", "/repo", std::nullopt}, {"pkg/a.py", "/repo", std::nullopt},
      {"/other/a.py", "/repo", std::nullopt},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.path.string());
    EXPECT_EQ(strip_root(c.path, c.root), c.stripped);
  }
}

}  // namespace
}  // namespace pindrel
