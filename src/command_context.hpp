#pragma once

#include "cli/args.hpp"
#include "environment.hpp"
#include "util/output.hpp"

#include <filesystem>

namespace pindrel {

// What every command receives from start-up: the workspace root (empty for `guide`), the
// environment snapshot, the output format and the buffered standard output.
struct CommandContext {
  const std::filesystem::path& root;
  const Environment& env;
  OutputFormat format;
  Output& out;
};

}  // namespace pindrel
