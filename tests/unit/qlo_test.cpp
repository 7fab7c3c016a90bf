#include "qlo.hpp"

#include <gtest/gtest.h>
#include <stdlib.h>
#include <unistd.h>

#include <string>

#include "scratch.hpp"

namespace pindrel {
namespace {

// Sets an environment variable for one test and puts back what was there.
class ScopedEnv {
 public:
  ScopedEnv(const char* name, const char* value) : name_(name) {
    if (const char* old = std::getenv(name)) old_ = old;
    if (value) {
      ::setenv(name, value, 1);
    } else {
      ::unsetenv(name);
    }
  }
  ~ScopedEnv() {
    if (old_) {
      ::setenv(name_, old_->c_str(), 1);
    } else {
      ::unsetenv(name_);
    }
  }

 private:
  const char* name_;
  std::optional<std::string> old_;
};

TEST(ResolveQlo, EnvironmentValueIsTakenUnchecked) {
  for (const char* value : {"", "qlo-nowhere", "/no/such/qlo"}) {
    SCOPED_TRACE(value);
    ScopedEnv env("PINDREL_QLO", value);
    auto client = resolve_qlo("/ws");
    ASSERT_TRUE(client) << client.error().render();
    EXPECT_EQ(client->path, value);
    EXPECT_EQ(client->root, "/ws");
  }
}

TEST(ResolveQlo, NotFoundOnPath) {
  ScopedEnv qlo("PINDREL_QLO", nullptr);
  ScopedEnv path("PATH", "/nonexistent-dir");
  auto client = resolve_qlo("/ws");
  ASSERT_FALSE(client);
  EXPECT_EQ(client.error().render(),
            "`qlo` not found on PATH. Install it with `uv add --dev quillo`, or point PINDREL_QLO at the binary.: "
            "cannot find binary path");
}

TEST(ResolveQlo, FoundOnPath) {
  const test_support::ScratchDir scratch;
  const std::filesystem::path& dir = scratch.path();
  test_support::write_file(dir / "qlo", "#!/bin/sh\n", test_support::FileMode::executable);
  ScopedEnv qlo("PINDREL_QLO", nullptr);
  ScopedEnv path("PATH", ("/nonexistent-dir:" + dir.string()).c_str());
  auto client = resolve_qlo("/ws");
  ASSERT_TRUE(client) << client.error().render();
  EXPECT_EQ(client->path, dir / "qlo");
}

TEST(CheckQloOutput, FailuresInOrder) {
  struct Case {
    const char* what;
    Result<Finished> outcome;
    std::string rendered;
  };
  const Case cases[] = {
      {"not started", std::unexpected(Error::from_errno(ENOENT)),
       "failed to spawn `/bin/q\xEF\xBF\xBD`: No such file or directory (os error 2)"},
      {"exit code with trimmed stderr", Finished{ExitStatus::exited(3), "[]", "\n  boom \xFF\n\n"},
       "`/bin/q\xEF\xBF\xBD` exited with exit status: 3: boom \xEF\xBF\xBD"},
      {"exit code 1 without stderr", Finished{ExitStatus::exited(1), "", ""},
       "`/bin/q\xEF\xBF\xBD` exited with exit status: 1: "},
      {"signal", Finished{ExitStatus::killed_by(9), "", "killed"},
       "`/bin/q\xEF\xBF\xBD` exited with signal: 9 (SIGKILL): killed"},
      {"core dump", Finished{ExitStatus::killed_by(11, CoreDump::yes), "", ""},
       "`/bin/q\xEF\xBF\xBD` exited with signal: 11 (SIGSEGV) (core dumped): "},
      {"bad byte", Finished{ExitStatus::exited(0), "[\xFF]", ""},
       "`qlo` produced output that was not valid UTF-8: invalid utf-8 sequence of 1 bytes from index 1"},
      {"bad continuation", Finished{ExitStatus::exited(0), "ab\xE2\x82x", ""},
       "`qlo` produced output that was not valid UTF-8: invalid utf-8 sequence of 2 bytes from index 2"},
      {"cut short", Finished{ExitStatus::exited(0), "abc\xF0\x9F\x98", ""},
       "`qlo` produced output that was not valid UTF-8: incomplete utf-8 byte sequence from index 3"},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.what);
    auto text = check_qlo_output("/bin/q\xFF", c.outcome);
    ASSERT_FALSE(text);
    EXPECT_EQ(text.error().render(), c.rendered);
  }
  auto ok = check_qlo_output("qlo", Finished{ExitStatus::exited(0), "caf\xC3\xA9 []", "warnings are dropped"});
  ASSERT_TRUE(ok);
  EXPECT_EQ(*ok, "caf\xC3\xA9 []");
}

TEST(FindJsonStart, SkipsBannersAndTrimsTheEnd) {
  struct Case {
    std::string_view text;
    std::string_view json;
  };
  const Case cases[] = {
      {"[]", "[]"},
      {"Indexing 3 files...\n[1, 2]\n", "[1, 2]"},
      {"ready {\"a\": 1}  \t\n", "{\"a\": 1}"},
      {"[]\xE3\x80\x80\xC2\xA0\n", "[]"},  // white space beyond ASCII
      {"note: x\n[INFO] y\n[]", "[INFO] y\n[]"},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(std::string(c.text));
    auto json = find_json_start(c.text);
    ASSERT_TRUE(json) << json.error().render();
    EXPECT_EQ(*json, c.json);
  }
  auto none = find_json_start("\n  daemon not running\n\n");
  ASSERT_FALSE(none);
  EXPECT_EQ(none.error().render(), "no JSON found in `qlo` output: daemon not running");
}

TEST(StripRoot, WholeComponentsOnly) {
  struct Case {
    std::filesystem::path path;
    std::filesystem::path root;
    std::optional<std::filesystem::path> stripped;
  };
  const Case cases[] = {
      {"/repo/pkg/a.py", "/repo", "pkg/a.py"},
      {"/repo//pkg/a.py", "/repo/", "pkg/a.py"},
      {"/repository/a.py", "/repo", std::nullopt},
      {"pkg/a.py", "/repo", std::nullopt},
      {"/other/a.py", "/repo", std::nullopt},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.path.string());
    EXPECT_EQ(strip_root(c.path, c.root), c.stripped);
  }
}

TEST(SymbolKindFromLsp, Numbers) {
  using K = DocumentSymbolKind;
  const std::pair<int, K> cases[] = {{5, K::Class},     {6, K::Method},   {7, K::Property}, {12, K::Function},
                                     {13, K::Variable}, {14, K::Constant}, {8, K::Other},    {9, K::Other},
                                     {0, K::Other},     {255, K::Other}};
  for (const auto& [number, kind] : cases) {
    SCOPED_TRACE(number);
    EXPECT_EQ(symbol_kind_from_lsp(static_cast<std::uint8_t>(number)), kind);
  }
}

TEST(RunQloRefs, NoTargetsStartNoProcess) {
  const QloClient client{"/no/such/qlo", "/no/such/dir"};
  auto answers = run_qlo_refs(client, {});
  ASSERT_TRUE(answers) << answers.error().render();
  EXPECT_TRUE(answers->empty());
}

}  // namespace
}  // namespace pindrel
