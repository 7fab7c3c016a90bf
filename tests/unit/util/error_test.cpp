#include "util/error.hpp"

#include <gtest/gtest.h>

#include <cerrno>

namespace pindrel {
namespace {

TEST(Error, RenderJoinsContextOutermostFirst) {
  Error e = Error("root cause").context("middle").context("outer");
  EXPECT_EQ(e.render(), "outer: middle: root cause");
  EXPECT_EQ(e.message(), "outer");
  EXPECT_EQ(e.root(), "root cause");
  EXPECT_EQ(Error("alone").render(), "alone");
}

TEST(Error, OsErrorText) {
  EXPECT_EQ(Error::from_errno(ENOENT).render(), "No such file or directory (os error 2)");
  EXPECT_EQ(os_error_text(EPIPE), "Broken pipe (os error 32)");
}

}  // namespace
}  // namespace pindrel
