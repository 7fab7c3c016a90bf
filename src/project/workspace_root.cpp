#include "project/workspace_root.hpp"

#include "util/utf8.hpp"

#include <sys/stat.h>

#include <array>
#include <cerrno>
#include <cstdlib>
#include <memory>
#include <string_view>
#include <system_error>

namespace pindrel {
namespace {

namespace fs = std::filesystem;

constexpr std::array<std::string_view, 4> markers = {"pyproject.toml", "setup.py", "setup.cfg", ".git"};

// Anything that stat() can see counts, a directory called setup.py included; a
// dangling link or an unreadable entry does not.
bool has_marker(const fs::path& dir) {
  for (auto name : markers) {
    struct stat st;
    if (::stat((dir / name).c_str(), &st) == 0) return true;
  }
  return false;
}

Error os_error(const std::error_code& ec) { return Error::from_errno(ec.value()); }

// realpath() itself rather than fs::canonical, which refuses an empty path with an error
// of its own instead of the system's answer.
Result<fs::path> resolve_real_path(const fs::path& path) {
  const std::unique_ptr<char, decltype(&std::free)> resolved(::realpath(path.c_str(), nullptr), &std::free);
  if (!resolved) return std::unexpected(Error::from_errno(errno));
  return fs::path(resolved.get());
}

}  // namespace

Result<fs::path> find_marked_ancestor(const fs::path& start) {
  std::error_code ec;
  fs::path dir = start;
  if (!fs::is_directory(dir, ec)) dir = dir.parent_path();
  for (;;) {
    if (has_marker(dir)) return dir;
    fs::path parent = dir.parent_path();
    if (parent == dir || parent.empty()) break;
    dir = std::move(parent);
  }
  std::string names;
  for (auto name : markers) {
    if (!names.empty()) names += ", ";
    names += name;
  }
  return std::unexpected(Error("no Python project root above " + display_path(start) + " (looked for " + names + ")"));
}

Result<fs::path> find_workspace_root(const std::optional<fs::path>& workspace) {
  std::error_code ec;
  if (workspace) {
    auto root = resolve_real_path(*workspace);
    if (!root) {
      return std::unexpected(std::move(root.error()).context("cannot resolve --workspace " + display_path(*workspace)));
    }
    return root;
  }
  fs::path cwd = fs::current_path(ec);
  if (ec) return std::unexpected(os_error(ec).context("cannot read current directory"));
  auto start = resolve_real_path(cwd);
  if (!start) return std::unexpected(std::move(start.error()).context("cannot resolve " + display_path(cwd)));
  return find_marked_ancestor(*start);
}

}  // namespace pindrel
