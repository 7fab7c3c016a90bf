#pragma once

// The pytest command line, and the replacement of this process by pytest or by the fallback command.

#include "run/selection.hpp"
#include "util/error.hpp"
#include "util/path_search.hpp"
#include "util/process.hpp"

#include <cstddef>
#include <filesystem>
#include <optional>
#include <span>
#include <string>
#include <utility>
#include <vector>

namespace pindrel::run {

// The resolved pytest command.
struct PytestCommand {
  std::vector<std::string> words;  // the program, then its leading arguments; operating-system bytes
  std::string root;                // where pytest starts: the repository top level, or a project below it
};

// What the new process image gets besides its argv.
struct CommandSpec {
  std::vector<std::pair<std::string, std::string>> env_settings;
  std::vector<std::string> env_removals;
  std::optional<std::string> stdin_payload;  // the whole standard input; none keeps pindrel's own
};

// `PINDREL_PYTEST` as the one word when it is set, else the configured `pytest-command` when it has a
// word, else "pytest" found on PATH (failing with a message that says how to name it).
Result<PytestCommand> resolve_pytest_argv(const std::optional<std::string>& pindrel_pytest,
                                          const std::vector<std::string>& configured, const std::string& root,
                                          const PathSearch& search);

// The command words, the node ids, then the words after `--`; nothing added, dropped or quoted,
// except "./" before a node id that begins with "-".
std::vector<std::string> build_pytest_argv(const std::vector<std::string>& words, std::span<const std::string> node_ids,
                                           const std::vector<std::string>& pytest_args);

// Makes pytest's argv (`words`, the selection, `pytest_args`) with `spec` applied fit `limit`: a
// selected `selection` stays as it is, else is folded into whole files, else becomes the whole suite.
void fit_selection_to_exec_limit(Selection& selection, const std::vector<std::string>& words,
                                 const std::vector<std::string>& pytest_args, const CommandSpec& spec,
                                 std::size_t limit);

// A `CommandSpec` that removes `names` from the environment and changes nothing else.
CommandSpec command_spec_removing_env(std::vector<std::string> names);

// Replaces this process with `argv`, started in `root` with `spec` applied; a payload is held in
// an unnamed file in `tmpdir` (TMPDIR, "/tmp" when unset). Returns only with an error.
Error exec_with_stdin_payload(const Flushed& flushed, const std::filesystem::path& root,
                              const std::vector<std::string>& argv, const CommandSpec& spec,
                              const std::optional<std::string>& tmpdir);

}  // namespace pindrel::run
