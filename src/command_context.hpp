#pragma once

#include "cli/args.hpp"
#include "exit_outcome.hpp"
#include "project/environment.hpp"
#include "util/error.hpp"
#include "util/output.hpp"

#include <filesystem>
#include <string_view>
#include <utility>

namespace pindrel {

// What every command receives from start-up: the workspace root (empty for `guide`), the
// environment snapshot, the output format and the buffered standard output.
struct CommandContext {
  const std::filesystem::path& root;
  const Environment& env;
  OutputFormat format;
  Output& out;
};

// Writes a command's whole report in one piece; a failed write is the command's error.
inline Result<ExitOutcome> write_report(Output& out, std::string_view text) {
  if (auto written = out.write(text); !written) return std::unexpected(std::move(written.error()));
  return ExitOutcome::success;
}

}  // namespace pindrel
