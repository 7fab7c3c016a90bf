#include "run/pytest_command.hpp"

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

CommandSpec command_spec_removing_env(std::vector<std::string> names) { return CommandSpec{{}, std::move(names), {}}; }

Error exec_with_stdin_payload(const Flushed& flushed, const std::filesystem::path& root,
                              const std::vector<std::string>& argv, const CommandSpec& spec,
                              const std::optional<std::string>& tmpdir) {
  ProcessChanges changes{spec.env_removals, spec.env_settings, spec.stdin_payload, tmpdir ? *tmpdir : "/tmp"};
  return exec_replacing(flushed, Command{argv, root}, changes);
}

}  // namespace pindrel::run
