#include "util/process.hpp"

#include <gtest/gtest.h>

#include <csignal>

namespace pindrel {
namespace {

TEST(ExitStatus, Text) {
  struct Case {
    ExitStatus status;
    std::string_view text;
  };
  const Case cases[] = {
      {ExitStatus::exited(0), "exit status: 0"},
      {ExitStatus::exited(128), "exit status: 128"},
      {ExitStatus::killed_by(9), "signal: 9 (SIGKILL)"},
      {ExitStatus::killed_by(11, CoreDump::yes), "signal: 11 (SIGSEGV) (core dumped)"},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.text);
    EXPECT_EQ(to_text(c.status), c.text);
  }
}

TEST(RunCaptured, CapturesBothOutputsInTheGivenDirectory) {
  auto done = run_captured({{"/bin/sh", "-c", "pwd; echo oops >&2; cat; exit 3"}, "/tmp"});
  ASSERT_TRUE(done) << done.error().render();
  EXPECT_EQ(done->out, "/tmp\n");  // cat read the empty standard input
  EXPECT_EQ(done->err, "oops\n");
  EXPECT_EQ(to_text(done->status), "exit status: 3");
}

TEST(RunCaptured, LargeOutputsOnBothPipesDoNotDeadlock) {
  auto done = run_captured({{"/bin/sh", "-c", "head -c 300000 /dev/zero; head -c 300000 /dev/zero >&2"}, {}});
  ASSERT_TRUE(done) << done.error().render();
  EXPECT_EQ(done->out.size(), 300000u);
  EXPECT_EQ(done->err.size(), 300000u);
}

TEST(RunCaptured, KilledBySignal) {
  auto done = run_captured({{"/bin/sh", "-c", "kill -9 $$"}, {}});
  ASSERT_TRUE(done) << done.error().render();
  EXPECT_EQ(to_text(done->status), "signal: 9 (SIGKILL)");
}

TEST(RunCaptured, FailedWaitIsAnErrorNotASuccess) {
  // With SIGCHLD ignored the kernel reaps the child itself, and waitpid fails.
  auto previous = std::signal(SIGCHLD, SIG_IGN);
  auto done = run_captured({{"/bin/sh", "-c", "exit 0"}, {}});
  std::signal(SIGCHLD, previous);
  ASSERT_FALSE(done);
  EXPECT_EQ(done.error().render(), "No child processes (os error 10)");
}

TEST(RunCaptured, MissingProgramIsTheSystemReason) {
  auto done = run_captured({{"/nonexistent/program"}, {}});
  ASSERT_FALSE(done);
  EXPECT_EQ(done.error().render(), "No such file or directory (os error 2)");
  auto bare = run_captured({{"surely-no-such-program-on-path"}, {}});
  ASSERT_FALSE(bare);
  EXPECT_EQ(bare.error().render(), "No such file or directory (os error 2)");
}

}  // namespace
}  // namespace pindrel
