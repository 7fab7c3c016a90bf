#pragma once

#include <filesystem>
#include <span>

#include "cli.hpp"
#include "error.hpp"
#include "exit_outcome.hpp"
#include "output.hpp"

namespace pindrel {

// Audits each file in turn with one `qlo list` and at most one `qlo refs` run, and writes
// the report; 1 when it holds a finding.
Result<ExitOutcome> run_audit(const std::filesystem::path& root, std::span<const std::filesystem::path> files,
                              OutputFormat format, Output& out);

// Prints the workspace root and the reference tool's path, without running the tool.
Result<ExitOutcome> run_doctor(const std::filesystem::path& root, Output& out);

}  // namespace pindrel
