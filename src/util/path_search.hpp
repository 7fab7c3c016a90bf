#pragma once

#include "util/error.hpp"

#include <filesystem>
#include <optional>
#include <string>
#include <string_view>

namespace pindrel {

// What a PATH lookup reads from the process, as plain values.
struct PathSearch {
  std::optional<std::string> path;    // PATH; unset differs from empty
  std::optional<std::string> home;    // HOME, for entries that begin with "~"
  std::filesystem::path current_dir;  // for relative and empty entries; empty when unknown

  static PathSearch from_process();
};

// The variable `name` of the process environment; unset differs from empty.
std::optional<std::string> env_value(const char* name);

// Nothing when `path` names an executable regular file (symbolic links followed); else the
// system's reason, or "not a regular file".
Result<void> check_executable_file(const std::filesystem::path& path);

// The first executable regular file named `name` in the directories of PATH, as an
// absolute path to the very file checked (symbolic links kept, not made canonical).
Result<std::filesystem::path> find_on_path(std::string_view name, const PathSearch& search);

}  // namespace pindrel
