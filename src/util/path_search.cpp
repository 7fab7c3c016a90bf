#include "util/path_search.hpp"

#include <pwd.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdlib>
#include <system_error>
#include <vector>

namespace pindrel {
namespace {

std::optional<std::filesystem::path> home_directory(const PathSearch& search) {
  if (search.home && !search.home->empty()) return std::filesystem::path(*search.home);
  std::vector<char> buffer(16384);
  passwd entry{};
  passwd* found = nullptr;
  if (::getpwuid_r(::getuid(), &entry, buffer.data(), buffer.size(), &found) != 0 || found == nullptr) {
    return std::nullopt;
  }
  return std::filesystem::path(found->pw_dir);
}

// "~" or "~/..." as the first component stands for the home directory.
std::optional<std::filesystem::path> expand_tilde(std::string_view entry, const PathSearch& search) {
  if (entry != "~" && !entry.starts_with("~/")) return std::filesystem::path(entry);
  auto home = home_directory(search);
  if (!home) return std::nullopt;
  entry.remove_prefix(1);
  while (entry.starts_with('/')) entry.remove_prefix(1);
  return entry.empty() ? *home : *home / entry;
}

}  // namespace

Result<void> check_executable_file(const std::filesystem::path& path) {
  struct stat info {};
  if (::stat(path.c_str(), &info) != 0) return std::unexpected(Error::from_errno(errno));
  if (!S_ISREG(info.st_mode)) return std::unexpected(Error("not a regular file"));
  if (::access(path.c_str(), X_OK) != 0) return std::unexpected(Error::from_errno(errno));
  return {};
}

std::optional<std::string> env_value(const char* name) {
  const char* value = std::getenv(name);
  if (value == nullptr) return std::nullopt;
  return std::string(value);
}

PathSearch PathSearch::from_process() {
  PathSearch search;
  search.path = env_value("PATH");
  search.home = env_value("HOME");
  std::error_code ec;
  search.current_dir = std::filesystem::current_path(ec);
  if (ec) search.current_dir.clear();
  return search;
}

Result<std::filesystem::path> find_on_path(std::string_view name, const PathSearch& search) {
  if (!search.path) return std::unexpected(Error("no path to search and provided name is not an absolute path"));
  std::string_view rest = *search.path;
  while (true) {
    const std::size_t colon = rest.find(':');
    const std::string_view entry = rest.substr(0, colon);
    if (auto dir = expand_tilde(entry, search)) {
      std::filesystem::path candidate = dir->empty() ? std::filesystem::path(name) : *dir / name;
      // Programs are started in another directory (the repository top level), where a
      // relative candidate would name another file, or none.
      if (candidate.is_relative() && !search.current_dir.empty()) candidate = search.current_dir / candidate;
      if (candidate.is_absolute() && check_executable_file(candidate)) return candidate;
    }
    if (colon == std::string_view::npos) break;
    rest.remove_prefix(colon + 1);
  }
  return std::unexpected(Error("cannot find binary path"));
}

}  // namespace pindrel
