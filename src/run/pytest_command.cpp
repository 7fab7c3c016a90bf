#include "run/pytest_command.hpp"

#include <string_view>
#include <unordered_set>
#include <utility>

namespace pindrel::run {

Result<PytestCommand> resolve_pytest_argv(const std::optional<std::string>& pindrel_pytest,
                                          const std::vector<std::string>& configured, const std::string& root,
                                          const PathSearch& search) {
  // The variable names one program, spaces and all; a bare name is searched on PATH by the exec.
  if (pindrel_pytest) return PytestCommand{{*pindrel_pytest}, root};
  if (!configured.empty()) return PytestCommand{configured, root};
  auto found = find_on_path("pytest", search);
  if (!found) {
    return std::unexpected(std::move(found.error())
                               .context("`pytest` not found on PATH. Set `pytest-command` under [tool.pindrel] in "
                                        "pyproject.toml, or point PINDREL_PYTEST at the binary."));
  }
  return PytestCommand{{found->native()}, root};
}

std::vector<std::string> build_pytest_argv(const std::vector<std::string>& words, std::span<const std::string> node_ids,
                                           const std::vector<std::string>& pytest_args) {
  std::vector<std::string> argv = words;
  // pytest would read a path that begins with "-" as an option.
  for (const std::string& node_id : node_ids) argv.push_back(node_id.starts_with('-') ? "./" + node_id : node_id);
  argv.insert(argv.end(), pytest_args.begin(), pytest_args.end());
  return argv;
}

namespace {

ProcessChanges process_changes(const CommandSpec& spec, const std::optional<std::string>& tmpdir) {
  return ProcessChanges{spec.env_removals, spec.env_settings, spec.stdin_payload, tmpdir ? *tmpdir : "/tmp"};
}

// What a node id takes in pytest's argv, "./" included.
std::size_t node_id_size(std::string_view node_id) {
  return exec_string_size(node_id) + (node_id.starts_with('-') ? 2 : 0);
}

}  // namespace

void fit_selection_to_exec_limit(Selection& selection, const std::vector<std::string>& words,
                                 const std::vector<std::string>& pytest_args, const CommandSpec& spec,
                                 std::size_t limit) {
  if (selection.decision != Decision::selected) return;
  const std::size_t base = exec_size(build_pytest_argv(words, {}, pytest_args), process_changes(spec, std::nullopt));
  std::size_t as_selected = base;
  std::size_t as_files = base;
  std::unordered_set<std::string_view> files;
  files.reserve(selection.node_ids.size());
  for (const SelectedNodeId& id : selection.node_ids) {
    as_selected += node_id_size(id.node_id);
    const std::string_view file = std::string_view(id.node_id).substr(0, id.node_id.find("::"));
    if (files.insert(file).second) as_files += node_id_size(file);
  }
  if (as_selected <= limit) return;
  if (as_files <= limit) {
    selection = folded_into_whole_files(std::move(selection));
    selection.fit = ArgvFit::whole_files;
    return;
  }
  // Too many files to name: only the whole suite still runs every selected test.
  selection.node_ids.clear();
  selection.decision = Decision::run_all;
  selection.fit = ArgvFit::whole_suite;
}

CommandSpec command_spec_removing_env(std::vector<std::string> names) { return CommandSpec{{}, std::move(names), {}}; }

Error exec_with_stdin_payload(const Flushed& flushed, const std::filesystem::path& root,
                              const std::vector<std::string>& argv, const CommandSpec& spec,
                              const std::optional<std::string>& tmpdir) {
  return exec_replacing(flushed, Command{argv, root}, process_changes(spec, tmpdir));
}

}  // namespace pindrel::run
