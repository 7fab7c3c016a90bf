#include "impact/command.hpp"

#include "impact/impact_report_json.hpp"
#include "impact/impact_report_text.hpp"
#include "impact/pipeline.hpp"
#include "util/clock.hpp"
#include "workspace.hpp"

#include <string>
#include <utility>

namespace pindrel::impact {

Result<ExitOutcome> impacted_tests_command(const CommandContext& context, const ImpactedTestsArgs& args) {
  auto workspace = open_project(context.root, context.env);
  if (!workspace) return std::unexpected(std::move(workspace.error()));
  const SteadyClock clock;
  auto impact =
      compute_impact(*workspace, context.env, args.base, args.changed, args.budgets, FastSuiteCheck::off, clock);
  if (!impact) return std::unexpected(std::move(impact.error()));

  const ImpactReport& report = impact->impact_report;
  const std::string text =
      context.format == OutputFormat::json ? render_impact_report_json(report) : render_impact_report_text(report);
  return write_report(context.out, text);
}

}  // namespace pindrel::impact
