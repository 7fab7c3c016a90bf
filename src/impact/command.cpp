#include "impact/command.hpp"

#include "impact/impact_report_json.hpp"
#include "impact/impact_report_text.hpp"
#include "impact/pipeline.hpp"
#include "project/workspace.hpp"
#include "util/clock.hpp"

#include <string>
#include <utility>

namespace pindrel::impact {

Result<ExitOutcome> impacted_tests_command(const CommandContext& context, const ImpactedTestsArgs& args) {
  auto workspace = open_project(context.root, context.env);
  if (!workspace) return std::unexpected(std::move(workspace.error()));
  // Read as `run` reads them, so that both walk the same way and fail on the same settings.
  auto pytest = load_pytest_settings(workspace->root);
  if (!pytest) return std::unexpected(std::move(pytest.error()));
  const SteadyClock clock;
  auto impact = compute_impact(*workspace, context.env, args.base, args.changed, args.budgets, FastSuiteCheck::off,
                               clock, *pytest);
  if (!impact) return std::unexpected(std::move(impact.error()));

  const ImpactReport& report = impact->impact_report;
  const std::string text =
      context.format == OutputFormat::json ? render_impact_report_json(report) : render_impact_report_text(report);
  return write_report(context.out, text);
}

}  // namespace pindrel::impact
