#pragma once

// Scratch directories and repositories for tests that touch the file system or run git.

#include "project/git_env_policy.hpp"
#include "util/process.hpp"

#include <sys/stat.h>

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <stdexcept>
#include <string>
#include <string_view>
#include <vector>

namespace pindrel::test_support {

// A fresh directory under the temporary directory, removed with everything in it.
class ScratchDir {
 public:
  ScratchDir() {
    std::string pattern = (std::filesystem::temp_directory_path() / "pindrel-test-XXXXXX").native();
    if (::mkdtemp(pattern.data()) == nullptr) throw std::runtime_error("mkdtemp failed");
    // Canonical, so that it compares equal to the top level git reports.
    path_ = std::filesystem::canonical(pattern);
  }
  ScratchDir(const ScratchDir&) = delete;
  ScratchDir& operator=(const ScratchDir&) = delete;
  ~ScratchDir() {
    std::error_code ec;
    std::filesystem::permissions(path_, std::filesystem::perms::owner_all, std::filesystem::perm_options::add, ec);
    std::filesystem::remove_all(path_, ec);
  }
  const std::filesystem::path& path() const { return path_; }

 private:
  std::filesystem::path path_;
};

enum class FileMode { plain, executable };

// Writes `text` to `path`, making the directories above it.
inline void write_file(const std::filesystem::path& path, std::string_view text, FileMode mode = FileMode::plain) {
  std::filesystem::create_directories(path.parent_path());
  std::ofstream(path, std::ios::binary) << text;
  if (mode == FileMode::executable) ::chmod(path.c_str(), 0755);
}

// Pins what git reads from the environment: no system or user configuration, a fixed
// identity, and no repository variables inherited from a surrounding git hook.
inline void pin_git_environment() {
  static const ScratchDir home;
  ::setenv("HOME", home.path().c_str(), 1);
  ::setenv("GIT_CONFIG_NOSYSTEM", "1", 1);
  ::setenv("GIT_CONFIG_GLOBAL", "/dev/null", 1);
  ::setenv("GIT_AUTHOR_NAME", "Test", 1);
  ::setenv("GIT_AUTHOR_EMAIL", "test@example.com", 1);
  ::setenv("GIT_COMMITTER_NAME", "Test", 1);
  ::setenv("GIT_COMMITTER_EMAIL", "test@example.com", 1);
  ::setenv("GIT_CEILING_DIRECTORIES", std::filesystem::temp_directory_path().c_str(), 1);
  for (const std::string_view name : repository_local_git_vars) ::unsetenv(std::string(name).c_str());
}

// A scratch git repository on branch main, with helpers that run real git in it.
class ScratchRepo {
 public:
  ScratchRepo() {
    pin_git_environment();
    git({"init", "-q", "-b", "main"});
  }
  const std::filesystem::path& path() const { return dir_.path(); }

  // Runs git in the repository and returns its trimmed standard output; a failure throws.
  std::string git(const std::vector<std::string>& args) const {
    Command command{{"git"}, dir_.path()};
    command.argv.insert(command.argv.end(), args.begin(), args.end());
    auto done = run_captured(command);
    if (!done || !done->status.success()) {
      throw std::runtime_error("git failed: " + (done ? done->err : done.error().render()));
    }
    std::string out = done->out;
    while (!out.empty() && out.back() == '\n') out.pop_back();
    return out;
  }

  void write(const std::string& rel, std::string_view text) const { write_file(dir_.path() / rel, text); }

  // Stages everything and commits; returns the commit id.
  std::string commit(const std::string& message) const {
    git({"add", "-A"});
    git({"commit", "-q", "--allow-empty", "-m", message});
    return git({"rev-parse", "HEAD"});
  }

 private:
  ScratchDir dir_;
};

}  // namespace pindrel::test_support
