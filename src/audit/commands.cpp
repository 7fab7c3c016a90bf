#include "audit/commands.hpp"

#include "audit/findings.hpp"
#include "impact/decorator_rules.hpp"
#include "pysource/enclosing.hpp"
#include "pysource/outline.hpp"
#include "qlo/client.hpp"
#include "util/file_read.hpp"
#include "util/path_search.hpp"
#include "util/utf8.hpp"

#include <string>
#include <vector>

namespace pindrel {
namespace {

std::uint64_t count_symbols(const std::vector<DocumentSymbol>& symbols) {
  std::uint64_t count = symbols.size();
  for (const DocumentSymbol& symbol : symbols) count += count_symbols(symbol.children);
  return count;
}

Result<std::vector<DocumentSymbol>> list_document_symbols(const QloClient& client, const std::filesystem::path& file) {
  const Command command{{client.path.native(), "--format", "json", "list", file.native()}, client.root};
  auto stdout_text = check_qlo_output(client.path, run_captured(command));
  if (!stdout_text) return std::unexpected(std::move(stdout_text.error()));
  auto json = find_json_start(*stdout_text);
  if (!json) return std::unexpected(std::move(json.error()));
  auto symbols = parse_document_symbols(*json);
  if (!symbols) return std::unexpected(std::move(symbols.error()).context("could not parse `qlo list` JSON"));
  return symbols;
}

// The file's outline when it can be read from here and parsed; the audit goes on without.
std::optional<pysource::Outline> outline_if_readable(const std::filesystem::path& file) {
  auto bytes = read_file_if_present(file);
  if (!bytes || !*bytes || !is_valid_utf8(**bytes)) return std::nullopt;
  auto outline = pysource::outline_python_source(**bytes);
  if (!outline) return std::nullopt;
  return std::move(*outline);
}

AuditSubject make_subject(const AuditCandidate& candidate, ReferencesResult answer,
                          const std::optional<pysource::Outline>& outline) {
  AuditSubject subject{candidate.qualname, candidate.line, candidate.kind, std::move(answer), {}, {}};
  if (!outline) return subject;
  const pysource::Definition* definition = pysource::enclosing_definition(*outline, candidate.line);
  if (definition == nullptr) return subject;
  subject.decorator_names = impact::decorator_names(*definition);
  const auto dot = definition->qualname.rfind('.');
  if (dot == std::string::npos) return subject;
  const std::string_view class_name = std::string_view(definition->qualname).substr(0, dot);
  for (const pysource::Definition& other : outline->definitions) {
    if (other.kind == pysource::DefinitionKind::class_ && other.qualname == class_name) {
      subject.superclass_names = other.superclass_names;
      break;
    }
  }
  return subject;
}

// Lists, outlines and judges one file, adding to the report.
Result<void> audit_file(const QloClient& client, const std::filesystem::path& file, AuditReport& report) {
  auto symbols = list_document_symbols(client, file);
  if (!symbols) return std::unexpected(std::move(symbols.error()).context("could not outline " + display_path(file)));
  report.symbols_checked += count_symbols(*symbols);

  // The path is read as given, from the current directory, while the tool ran in the root.
  const std::optional<pysource::Outline> outline = outline_if_readable(file);

  std::vector<AuditCandidate> candidates;
  for (const DocumentSymbol& symbol : *symbols) collect_audit_candidates(symbol, std::nullopt, candidates);

  std::vector<std::string> targets;
  for (const AuditCandidate& candidate : candidates) {
    targets.push_back(qlo_refs_target(file, candidate.line, candidate.column));
  }
  auto answers = run_qlo_refs(client, targets);
  if (!answers) return std::unexpected(std::move(answers.error()));

  std::vector<AuditSubject> subjects;
  for (std::size_t i = 0; i < candidates.size(); ++i) {
    subjects.push_back(make_subject(candidates[i], std::move((*answers)[i]), outline));
  }
  AuditSubjects pending(subjects, file, client.root);
  while (auto finding = next_audit_finding(pending)) report.findings.push_back(std::move(*finding));

  report.files.push_back(audit_display_path(file, client.root));
  return {};
}

}  // namespace

Result<ExitOutcome> run_audit(const CommandContext& context, std::span<const std::filesystem::path> files) {
  const std::filesystem::path& root = context.root;
  auto client = resolve_qlo(root, context.env);
  if (!client) return std::unexpected(std::move(client.error()));
  AuditReport report;
  for (const std::filesystem::path& file : files) {
    if (auto audited = audit_file(*client, file, report); !audited) return std::unexpected(std::move(audited.error()));
  }
  auto text = write_audit_report(report, context.format, root);
  if (!text) return std::unexpected(std::move(text.error()));
  if (auto written = context.out.write(*text); !written) return std::unexpected(std::move(written.error()));
  return report.findings.empty() ? ExitOutcome::success : ExitOutcome::findings;
}

Result<ExitOutcome> run_doctor(const CommandContext& context) {
  const std::filesystem::path& root = context.root;
  Output& out = context.out;
  auto client = resolve_qlo(root, context.env);
  if (!client) return std::unexpected(std::move(client.error()));
  // A bare name is looked up when the tool starts; a path must already name the program. The
  // tool starts in the root, so a relative path is taken from there.
  if (context.env.pindrel_qlo && context.env.pindrel_qlo->find('/') != std::string::npos) {
    if (auto usable = check_executable_file(root / client->path); !usable) {
      return std::unexpected(
          std::move(usable.error())
              .context("PINDREL_QLO `" + display_path(client->path) + "` is not an executable file"));
    }
  }
  if (auto written = out.write("workspace: " + display_path(root) + "\n"); !written) {
    return std::unexpected(std::move(written.error()));
  }
  if (auto written = out.write("qlo:       " + display_path(client->path) + "\n"); !written) {
    return std::unexpected(std::move(written.error()));
  }
  return ExitOutcome::success;
}

}  // namespace pindrel
