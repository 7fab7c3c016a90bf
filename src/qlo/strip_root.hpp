#pragma once

#include <filesystem>
#include <optional>

namespace pindrel {

// `path` without its leading `root`, compared whole component by component; none when it
// does not lie under `root`.
std::optional<std::filesystem::path> strip_root(const std::filesystem::path& path, const std::filesystem::path& root);

}  // namespace pindrel
