#include "run/command.hpp"

#include "changed/changed_symbols.hpp"
#include "impact/impact_report_json.hpp"
#include "impact/pipeline.hpp"
#include "impact/source_cache.hpp"
#include "project/git.hpp"
#include "project/workspace.hpp"
#include "run/dry_run.hpp"
#include "run/fallback.hpp"
#include "run/pytest_command.hpp"
#include "run/selection.hpp"
#include "util/clock.hpp"
#include "util/file_read.hpp"
#include "util/output.hpp"
#include "util/process.hpp"
#include "util/utf8.hpp"

#include <chrono>
#include <map>
#include <optional>
#include <string>
#include <utility>
#include <vector>

namespace pindrel::run {
namespace {

// The report and what came with it: a replayed report brings neither changes nor files.
struct ObtainedImpact {
  impact::ImpactReport report;
  std::optional<changed::ChangedSymbols> changes;
  std::optional<std::vector<std::string>> repository_files;
  std::optional<impact::SourceCache> cache;             // the walk's, when it walked
  std::map<std::string, impact::VisitedEntry> visited;  // what the walk entered, when it walked
};

Result<ObtainedImpact> replay_impact(const std::filesystem::path& path) {
  const std::string shown = display_path(path);
  auto text = read_text_file(path);
  if (!text) return std::unexpected(std::move(text.error()).context("cannot read --impact " + shown));
  auto report = impact::parse_impact_report(*text);
  if (!report) {
    return std::unexpected(std::move(report.error()).context("cannot parse " + shown + " as an impacted-tests report"));
  }
  return ObtainedImpact{std::move(*report), std::nullopt, std::nullopt, std::nullopt, {}};
}

Result<ObtainedImpact> obtain_impact(const Workspace& workspace, const Environment& env, const RunArgs& args,
                                     const Clock& clock, const PytestSettings& pytest) {
  if (args.impact) return replay_impact(*args.impact);
  auto computed = impact::compute_impact(workspace, env, args.base, std::nullopt, args.budgets,
                                         impact::FastSuiteCheck::on, clock, pytest);
  if (!computed) return std::unexpected(std::move(computed.error()));
  return ObtainedImpact{std::move(computed->impact_report), std::move(computed->changes),
                        std::move(computed->repository_files), std::move(computed->cache),
                        std::move(computed->visited)};
}

// The files the selection reads: those the pipeline listed, none for `run_all`, else listed here.
// A listing that fails leaves nothing to select from, so the whole suite runs.
std::vector<std::string> files_to_select_from(ObtainedImpact& impact, const GitHandle& git) {
  if (impact.repository_files) return std::move(*impact.repository_files);
  if (impact.report.verdict == impact::Verdict::run_all) return {};
  auto listed = list_repository_files(git, std::nullopt);
  if (listed) return std::move(*listed);
  impact.report.verdict = impact::Verdict::run_all;
  impact.report.reason = impact::RunAllReason::index_failed;
  return {};
}

// The changed definitions and modules of a computed report, with their files.
std::vector<ChangedDefinition> changed_definitions(const ObtainedImpact& impact) {
  std::vector<ChangedDefinition> changed;
  if (!impact.changes) return changed;
  for (const auto& symbol : impact.changes->changed_symbols) changed.push_back({symbol.symbol, symbol.file});
  for (const auto& module : impact.changes->module_level_changes) changed.push_back({module.module, module.file});
  return changed;
}

std::uint64_t elapsed_ms_since(Clock::Instant start, const Clock& clock) {
  const auto elapsed = clock.now() - start;
  if (elapsed < Clock::Instant::duration::zero()) return 0;
  return static_cast<std::uint64_t>(std::chrono::duration_cast<std::chrono::milliseconds>(elapsed).count());
}

std::vector<std::string> node_id_texts(const Selection& selection) {
  std::vector<std::string> ids;
  ids.reserve(selection.node_ids.size());
  for (const auto& id : selection.node_ids) ids.push_back(id.node_id);
  return ids;
}

std::string reason_name(const Selection& selection) {
  return selection.reason ? std::string(impact::run_all_reason_name(*selection.reason)) : "unspecified";
}

// Standard error is unbuffered; a line that cannot be written changes nothing about the run.
void write_error_line(const std::string& text) { (void)write_all(2, "pindrel: " + text + "\n"); }

// What the endings of a run read: the project, the environment and the command line.
struct Ending {
  const std::filesystem::path& workspace_root;
  const Workspace& workspace;
  const Environment& env;
  const RunArgs& args;
  mutable std::optional<Result<PytestCommand>> pytest = {};  // looked up on first need
};

// pytest as configured, looked up once however often the run asks: to size the argv, then to start it.
const Result<PytestCommand>& resolve_pytest(const Ending& ending) {
  if (!ending.pytest) {
    ending.pytest = resolve_pytest_argv(ending.env.pindrel_pytest, ending.workspace.config.pytest_command,
                                        ending.workspace.root, ending.env.path_search);
  }
  return *ending.pytest;
}

// The workspace root relative to the top level when it lies below it.
std::optional<std::filesystem::path> project_below_top(const Ending& ending) {
  const std::filesystem::path relative = ending.workspace_root.lexically_relative(ending.workspace.root);
  if (relative.empty() || relative == "." || *relative.begin() == "..") return std::nullopt;
  return relative;
}

// pytest for `selection`. The whole suite of a project below the top level is that project's:
// started there, pytest takes that project's configuration, testpaths and pythonpath, as a plain
// `pytest` in it does. Node ids are relative to the top level, so a selection starts there.
Result<PytestCommand> resolve_pytest_for(const Ending& ending, const Selection& selection) {
  Result<PytestCommand> pytest = resolve_pytest(ending);
  if (!pytest || selection.decision != Decision::run_all || !project_below_top(ending)) return pytest;
  // A relative program path still names the file below the top level.
  std::string& program = pytest->words.front();
  if (program.find('/') != std::string::npos && !program.starts_with('/')) {
    program = (std::filesystem::path(ending.workspace.root) / program).native();
  }
  pytest->root = ending.workspace_root.native();
  return pytest;
}

// Gives the plan its argv: the fallback command's, or pytest's unless there is nothing to run. A pytest
// that cannot be found is reported here and leaves the argv unknown; the dry run goes on.
void complete_plan(DryRunPlan& plan, const Ending& ending, const std::optional<FallbackCommand>& fallback) {
  if (plan.fallback) {
    plan.argv = fallback->argv;
  } else if (plan.selection.decision != Decision::nothing) {
    auto pytest = resolve_pytest_for(ending, plan.selection);
    if (pytest) {
      plan.argv = build_pytest_argv(pytest->words, node_id_texts(plan.selection), ending.args.pytest_args);
      if (pytest->root != ending.workspace.root) plan.start_dir = display_path(*project_below_top(ending));
    } else {
      write_error_line(pytest.error().render());
    }
  }
}

Error exec_pytest(Output& out, const Ending& ending, const Selection& selection, std::vector<std::string> removed) {
  auto pytest = resolve_pytest_for(ending, selection);
  if (!pytest) return std::move(pytest.error());
  const std::vector<std::string> argv =
      build_pytest_argv(pytest->words, node_id_texts(selection), ending.args.pytest_args);
  auto flushed = flush_before_exec(out, "could not flush pindrel's own output before running pytest");
  if (!flushed) return std::move(flushed.error());
  return exec_with_stdin_payload(*flushed, pytest->root, argv, command_spec_removing_env(std::move(removed)),
                                 ending.env.tmpdir);
}

Error exec_fallback(Output& out, const Ending& ending, const FallbackCommand& command, const FallbackPayload& payload) {
  write_error_line("delegating to fallback " + describe_fallback_command(command));
  const CommandSpec spec = fallback_payload_json(payload);
  auto flushed = flush_before_exec(out, "could not flush pindrel's own output before running the fallback");
  if (!flushed) return std::move(flushed.error());
  return start_fallback_command(*flushed, command, spec, ending.workspace.root, ending.env.tmpdir);
}

}  // namespace

Result<ExitOutcome> run_command(const CommandContext& context, const RunArgs& args) {
  const SteadyClock clock;
  const auto start = clock.now();
  const Environment& env = context.env;

  auto workspace = open_project(context.root, env);
  if (!workspace) return std::unexpected(std::move(workspace.error()));
  const std::string& root = workspace->root;
  const Config& config = workspace->config;

  // Settled before any report, so that a broken setting fails every run at once.
  auto fallback = settle_fallback_command(args.fallback_command, config.fallback_command, root, env);
  if (!fallback) return std::unexpected(std::move(fallback.error()));
  auto pytest_settings = load_pytest_settings(root);
  if (!pytest_settings) return std::unexpected(std::move(pytest_settings.error()));

  auto impact = obtain_impact(*workspace, env, args, clock, *pytest_settings);
  if (!impact) return std::unexpected(std::move(impact.error()));
  // The walk's files are read and outlined already: the selection reads the same versions.
  impact::SourceCache cache = impact->cache
                                  ? std::move(*impact->cache)
                                  : impact::new_source_cache(root, files_to_select_from(*impact, workspace->git));
  SelectionSettings settings{std::move(*pytest_settings), {}, ImportMode::prepend, false, {}, {}};
  settings.suite = SuiteCollection(settings.pytest, args.pytest_args, root, cache.python_files);
  settings.import_mode = import_mode(settings.pytest, args.pytest_args);
  settings.doctest_modules = collects_doctest_modules(settings.pytest, args.pytest_args);
  if (settings.doctest_modules) {
    settings.changed_definitions = changed_definitions(*impact);
    settings.reached = std::move(impact->visited);
  }
  settings.list_expansions = args.dry_run && context.format == OutputFormat::json;
  Selection selection = build_selection(impact->report, cache, settings);
  const Ending ending{context.root, *workspace, env, args};

  const GitEnvPolicy pytest_policy = args.git_env.value_or(config.git_env);
  const std::vector<std::string> pytest_removed =
      pytest_policy == GitEnvPolicy::isolate ? env.git_vars_set : std::vector<std::string>{};
  // Settled before the path is chosen: a selection that cannot be named even as whole files is a
  // whole-suite run, which the fallback command may take. A pytest that cannot be found fails later.
  if (selection.decision == Decision::selected) {
    if (const auto& pytest = resolve_pytest(ending)) {
      fit_selection_to_exec_limit(selection, pytest->words, args.pytest_args, command_spec_removing_env(pytest_removed),
                                  exec_size_limit());
    }
  }
  const std::uint64_t elapsed_ms = elapsed_ms_since(start, clock);

  const bool use_fallback = *fallback && selection.decision == Decision::run_all;
  // The fallback command always gets the environment unchanged.
  const GitEnvPolicy policy = use_fallback ? GitEnvPolicy::inherit : pytest_policy;
  std::vector<std::string> removed = use_fallback ? std::vector<std::string>{} : pytest_removed;

  std::optional<FallbackPayload> payload;
  if (use_fallback) payload = FallbackPayload{1, reason_name(selection), impact->changes ? &*impact->changes : nullptr};

  if (args.dry_run) {
    DryRunPlan plan{std::move(selection), elapsed_ms, policy, std::move(removed), std::nullopt, {}};
    if (use_fallback) {
      plan.fallback =
          FallbackPlan{argv_display_strings((*fallback)->argv), (*fallback)->source, payload->reason, *payload};
    }
    complete_plan(plan, ending, *fallback);
    const std::string text = context.format == OutputFormat::json ? dry_run_plan_json(plan) : write_dry_run_text(plan);
    return write_report(context.out, text);
  }

  write_error_line(decision_summary_line(selection, elapsed_ms));
  if (selection.decision == Decision::nothing) return ExitOutcome::success;
  if (use_fallback) return std::unexpected(exec_fallback(context.out, ending, **fallback, *payload));
  return std::unexpected(exec_pytest(context.out, ending, selection, std::move(removed)));
}

}  // namespace pindrel::run
