#pragma once

#include "cli.hpp"
#include "error.hpp"
#include "exit_outcome.hpp"
#include "output.hpp"

#include <filesystem>

namespace pindrel::changed {

// `pindrel changed-symbols`: opens the project at the workspace root, diffs the working
// tree against the merge base and writes the report, as text or JSON, in one write.
Result<ExitOutcome> changed_symbols_command(Output& out, const std::filesystem::path& workspace_root,
                                            const ChangedSymbolsArgs& args, OutputFormat format);

}  // namespace pindrel::changed
