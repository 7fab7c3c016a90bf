#include "changed/command.hpp"

#include "changed/changed_symbols_json.hpp"
#include "changed/changed_symbols_text.hpp"
#include "changed/symbols_from_diff.hpp"
#include "json/writer.hpp"
#include "project/base_line.hpp"
#include "project/git.hpp"
#include "project/workspace.hpp"

#include <string>
#include <utility>

namespace pindrel::changed {

Result<ExitOutcome> changed_symbols_command(const CommandContext& context, const ChangedSymbolsArgs& args) {
  auto workspace = open_project(context.root, context.env);
  if (!workspace) return std::unexpected(std::move(workspace.error()));
  auto refs = resolve_merge_base(workspace->git, args.base);
  if (!refs) return std::unexpected(std::move(refs.error()));
  auto untracked = list_untracked_files(workspace->git);
  if (!untracked) return std::unexpected(std::move(untracked.error()));
  auto changes =
      changed_symbols_from_diff(workspace->git, workspace->root, workspace->config, *refs, std::move(*untracked));
  if (!changes) return std::unexpected(std::move(changes.error()));
  const ChangedSymbols& report = changes->report;

  std::string text;
  if (context.format == OutputFormat::json) {
    json::PrettyWriter writer;
    write_changed_symbols_json(report, writer);
    text = std::move(writer).take();
  } else {
    text = render_base_line(report.base, report.merge_base);
    render_changed_symbols_text(text, report);
  }
  return write_report(context.out, text);
}

}  // namespace pindrel::changed
