#pragma once

#include "util/error.hpp"

#include <filesystem>
#include <optional>

namespace pindrel {

// The --workspace path made canonical, or the nearest directory from the current one
// upwards that holds pyproject.toml, setup.py, setup.cfg or .git.
Result<std::filesystem::path> find_workspace_root(const std::optional<std::filesystem::path>& workspace);

// The marker search alone, from an already canonical start.
Result<std::filesystem::path> find_marked_ancestor(const std::filesystem::path& start);

}  // namespace pindrel
