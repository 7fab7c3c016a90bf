#include "scratch.hpp"
#include "util/process.hpp"

#include <gtest/gtest.h>

#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <csignal>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <string>
#include <vector>

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

// A deadline a moment away; the bounds the tests check are far wider, so that a busy machine
// does not fail them.
CaptureOptions deadline_in(std::chrono::milliseconds wait) {
  CaptureOptions options;
  options.deadline = std::chrono::steady_clock::now() + wait;
  return options;
}

// Whether `pid` is gone or only waits to be reaped by whoever inherited it.
bool has_ended(pid_t pid) {
  std::ifstream stat("/proc/" + std::to_string(pid) + "/stat");
  std::string text((std::istreambuf_iterator<char>(stat)), std::istreambuf_iterator<char>());
  const auto paren = text.rfind(')');
  return text.empty() || (paren != std::string::npos && text.substr(paren + 2, 1) == "Z");
}

TEST(RunCaptured, TheDeadlineEndsTheWholeProcessGroupAndTheReading) {
  struct Case {
    std::string_view name;
    std::string script;  // prints the process id of what it leaves behind first
  };
  const Case cases[] = {
      {"a child that hangs", "echo $$; sleep 30"},
      {"a grandchild that holds the output pipe", "sleep 30 & echo $!"},
      {"a child that closed its pipes", "echo $$; exec >&- 2>&-; sleep 30"},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    const auto start = std::chrono::steady_clock::now();
    auto done = run_captured({{"/bin/sh", "-c", c.script}, {}}, deadline_in(std::chrono::milliseconds(300)));
    const auto took = std::chrono::steady_clock::now() - start;
    ASSERT_TRUE(done) << done.error().render();
    EXPECT_TRUE(done->out_of_time);
    EXPECT_LT(took, std::chrono::seconds(10));
    const pid_t left = static_cast<pid_t>(std::stol(done->out));
    for (int i = 0; i < 100 && !has_ended(left); ++i) ::usleep(20000);
    EXPECT_TRUE(has_ended(left)) << left;
  }
}

TEST(RunCaptured, ARunThatEndsBeforeTheDeadlineIsLeftAsItIs) {
  // What the child leaves running without its pipes, such as a daemon, is not the run's.
  auto done = run_captured({{"/bin/sh", "-c", "sleep 30 >/dev/null 2>&1 & echo $!; echo oops >&2; exit 3"}, {}},
                           deadline_in(std::chrono::seconds(60)));
  ASSERT_TRUE(done) << done.error().render();
  EXPECT_FALSE(done->out_of_time);
  EXPECT_EQ(to_text(done->status), "exit status: 3");
  EXPECT_EQ(done->err, "oops\n");
  const pid_t daemon = static_cast<pid_t>(std::stol(done->out));
  EXPECT_FALSE(has_ended(daemon));
  ::kill(daemon, SIGKILL);
}

// Runs exec_replacing in a child process whose SIGPIPE is ignored, as pindrel's own is; returns
// what the new program wrote to standard output, then its exit status.
std::string exec_in_child(const Command& command, const ProcessChanges& changes) {
  int fds[2];
  if (::pipe(fds) != 0) return "pipe failed";
  const pid_t pid = ::fork();
  if (pid == 0) {
    ::dup2(fds[1], 1);
    ::close(fds[0]);
    ::signal(SIGPIPE, SIG_IGN);
    ::setenv("PINDREL_T_REMOVED", "gone", 1);
    ::setenv("PINDREL_T_EMPTY", "", 1);
    ::setenv("PINDREL_T_KEPT", "kept", 1);
    Output out(1);
    (void)out.write("buffered\n");
    auto flushed = flush_before_exec(out, "could not flush");
    Error error = flushed ? exec_replacing(*flushed, command, changes) : flushed.error();
    (void)write_all(1, "exec failed: " + error.render() + "\n");
    ::_exit(127);
  }
  ::close(fds[1]);
  std::string output;
  char buffer[4096];
  for (ssize_t n; (n = ::read(fds[0], buffer, sizeof buffer)) > 0;) output.append(buffer, static_cast<std::size_t>(n));
  ::close(fds[0]);
  int status = 0;
  ::waitpid(pid, &status, 0);
  return output + to_text(ExitStatus::from_wait_status(status));
}

TEST(ExecReplacing, BecomesTheProgramWithItsDirectoryEnvironmentAndInput) {
  test_support::ScratchDir dir;
  const std::string script =
      "pwd; cat; echo \"${PINDREL_T_REMOVED-unset} ${PINDREL_T_EMPTY-unset} $PINDREL_T_KEPT $PINDREL_T_SET\"; "
      "mask=$(sed -n 's/^SigIgn:[[:space:]]*//p' /proc/self/status); "
      "[ $(( 0x$mask & 0x1000 )) -eq 0 ] && echo SIGPIPE default; exit 7";
  ProcessChanges changes;
  changes.env_removals = {"PINDREL_T_REMOVED", "PINDREL_T_EMPTY", "PINDREL_T_SET"};
  changes.env_settings = {{"PINDREL_T_SET", "first"}, {"PINDREL_T_SET", "set"}};
  changes.stdin_bytes = "payload\n";
  changes.stdin_dir = dir.path();
  EXPECT_EQ(exec_in_child({{"sh", "-c", script}, dir.path()}, changes),
            "buffered\n" + dir.path().native() + "\npayload\nunset unset kept set\nSIGPIPE default\nexit status: 7");
  // Nothing of the payload stays behind in the directory.
  EXPECT_TRUE(std::filesystem::is_empty(dir.path()));

  changes.stdin_bytes = "";
  EXPECT_EQ(exec_in_child({{"/bin/sh", "-c", "wc -c"}, {}}, changes), "buffered\n0\nexit status: 0");
}

TEST(ExecReplacing, FailuresLeaveTheProcessAsItWas) {
  test_support::ScratchDir dir;
  struct Case {
    Command command;
    std::optional<std::string> stdin_bytes;
    std::filesystem::path stdin_dir;
    std::string error;
  };
  const Case cases[] = {
      {{{}, {}}, std::nullopt, {}, "the command resolved to an empty argv"},
      {{{"/nonexistent/program", "a b", "c"}, {}},
       std::nullopt,
       {},
       "failed to exec `/nonexistent/program a b c`: No such file or directory (os error 2)"},
      {{{"surely-no-such-program-on-path"}, {}},
       std::nullopt,
       {},
       "failed to exec `surely-no-such-program-on-path`: No such file or directory (os error 2)"},
      {{{"", "x"}, {}}, std::nullopt, {}, "failed to exec ` x`: No such file or directory (os error 2)"},
      {{{"/bin/true", "x\xFF"}, dir.path() / "missing"},
       std::nullopt,
       {},
       "failed to exec `/bin/true x\xEF\xBF\xBD`: No such file or directory (os error 2)"},
      {{{"/bin/true", std::string("a\0b", 3)}, {}},
       std::nullopt,
       {},
       std::string("failed to exec `/bin/true a\0b`: nul byte found in provided data", 63)},
      {{{"/bin/true"}, {}},
       "payload",
       dir.path() / "missing",
       "could not create a file for stdin: No such file or directory (os error 2)"},
  };
  const auto cwd = std::filesystem::current_path();
  const char* path_before = std::getenv("PATH");
  const auto sigpipe_before = std::signal(SIGPIPE, SIG_IGN);
  for (const auto& c : cases) {
    SCOPED_TRACE(c.error);
    Output out(1);
    auto flushed = flush_before_exec(out, "could not flush");
    ASSERT_TRUE(flushed);
    Error error = exec_replacing(*flushed, c.command, {{"PATH"}, {{"PINDREL_T_SET", "x"}}, c.stdin_bytes, c.stdin_dir});
    EXPECT_EQ(error.render(), c.error);
    EXPECT_EQ(std::filesystem::current_path(), cwd);
    EXPECT_EQ(std::getenv("PATH"), path_before);
    EXPECT_EQ(std::getenv("PINDREL_T_SET"), nullptr);
    EXPECT_EQ(std::signal(SIGPIPE, SIG_IGN), SIG_IGN);
  }
  std::signal(SIGPIPE, sigpipe_before);
}

TEST(ExecReplacing, ALongArgvIsShownByItsHead) {
  std::vector<std::string> argv = {"/nonexistent/program"};
  const std::string word = "0123456789abcdefghij";
  argv.insert(argv.end(), 30000, word);
  std::string head = "/nonexistent/program";
  for (int i = 0; i < 11; ++i) head += " " + word;  // whole words within 256 bytes
  Output out(1);
  auto flushed = flush_before_exec(out, "could not flush");
  ASSERT_TRUE(flushed);
  EXPECT_EQ(exec_replacing(*flushed, {argv, {}}, {}).render(),
            "failed to exec `" + head + " … (+29989 more)`: No such file or directory (os error 2)");
}

TEST(ExecSize, CountsEachStringItsNulAndAPointer) {
  // Our own environment is counted too, so the limits are found from it.
  auto least_limit = [](const std::vector<std::string>& argv, const ProcessChanges& changes) {
    return exec_size(argv, changes);
  };
  const std::size_t base = least_limit({"pytest"}, {});
  EXPECT_EQ(least_limit({"pytest", "tests/a.py"}, {}), base + 11 + sizeof(char*));
  EXPECT_EQ(least_limit({"pytest"}, {{}, {{"PINDREL_T_NEW", "xy"}}, std::nullopt, {}}), base + 17 + sizeof(char*));
  ::setenv("PINDREL_T_OLD", "abc", 1);
  const std::size_t with_old = least_limit({"pytest"}, {});
  EXPECT_EQ(least_limit({"pytest"}, {{"PINDREL_T_OLD"}, {}, std::nullopt, {}}), with_old - 18 - sizeof(char*));
  ::unsetenv("PINDREL_T_OLD");
  EXPECT_GE(exec_size_limit(), std::size_t{128} << 10);
  EXPECT_LE(exec_size_limit(), std::size_t{6} << 20);
}

TEST(FlushBeforeExec, AFailedFlushCarriesTheCallersMessage) {
  Output out(-1);
  ASSERT_TRUE(out.write("pending"));
  auto flushed = flush_before_exec(out, "could not flush pindrel's own output");
  ASSERT_FALSE(flushed);
  EXPECT_EQ(flushed.error().render(), "could not flush pindrel's own output: Bad file descriptor (os error 9)");
}

}  // namespace
}  // namespace pindrel
