#pragma once

#include "command_context.hpp"
#include "exit_outcome.hpp"
#include "util/error.hpp"

#include <filesystem>
#include <span>

namespace pindrel {

// Audits each file in turn with one `qlo list` and at most one `qlo refs` run, and writes
// the report; 1 when it holds a finding.
Result<ExitOutcome> run_audit(const CommandContext& context, std::span<const std::filesystem::path> files);

// Prints the workspace root and the reference tool's path, without running the tool.
Result<ExitOutcome> run_doctor(const CommandContext& context);

}  // namespace pindrel
