#pragma once

#include "util/error.hpp"

#include <filesystem>
#include <optional>
#include <string>

namespace pindrel {

// The whole file's bytes; none when it does not exist, else the system's reason.
Result<std::optional<std::string>> read_file_if_present(const std::filesystem::path& path);

}  // namespace pindrel
