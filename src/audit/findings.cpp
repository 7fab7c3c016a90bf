#include "audit/findings.hpp"

#include "impact/decorator_rules.hpp"
#include "impact/framework_names.hpp"
#include "json/writer.hpp"
#include "project/modpath.hpp"
#include "qlo/strip_root.hpp"
#include "util/utf8.hpp"

#include <algorithm>

namespace pindrel {
namespace {

std::string_view kind_name(DocumentSymbolKind kind) {
  switch (kind) {
    case DocumentSymbolKind::Class: return "Class";
    case DocumentSymbolKind::Function: return "Function";
    case DocumentSymbolKind::Method: return "Method";
    case DocumentSymbolKind::Property: return "Property";
    case DocumentSymbolKind::Variable: return "Variable";
    case DocumentSymbolKind::Constant: return "Constant";
    case DocumentSymbolKind::Other: break;
  }
  return "Other";
}

std::string_view kind_word(DocumentSymbolKind kind) {
  switch (kind) {
    case DocumentSymbolKind::Class: return "class";
    case DocumentSymbolKind::Function: return "func";
    case DocumentSymbolKind::Method: return "method";
    case DocumentSymbolKind::Property: return "property";
    case DocumentSymbolKind::Variable: return "var";
    case DocumentSymbolKind::Constant: return "const";
    case DocumentSymbolKind::Other: break;
  }
  return "symbol";
}

std::string_view severity_name(Severity severity) { return severity == Severity::warn ? "warn" : "note"; }

struct ReferenceCounts {
  std::uint64_t other = 0;
  std::uint64_t tests = 0;
};

ReferenceCounts count_references(const AuditSubject& subject, const std::filesystem::path& file,
                                 const std::filesystem::path& root) {
  const ReferencesResult& answer = subject.answer;
  const std::uint64_t listed = answer.references.size() + answer.test_references.size();
  // The lists may be cut short of what the counts announce; then only the counts are whole.
  const bool complete =
      answer.reference_count <= listed && answer.test_reference_count <= listed - answer.reference_count;
  if (!complete) return {answer.reference_count, answer.test_reference_count};
  ReferenceCounts counts;
  for (const auto* list : {&answer.references, &answer.test_references}) {
    for (const Reference& site : *list) {
      const std::filesystem::path site_file(site.file);
      if (site.line == subject.line && site_file == file) continue;  // its own definition
      if (is_test_file(site_file, root)) {
        ++counts.tests;
      } else {
        ++counts.other;
      }
    }
  }
  return counts;
}

bool called_by_framework(const AuditSubject& subject) {
  const bool has_base = std::ranges::any_of(
      subject.superclass_names, [](const std::string& base) { return impact::last_name_part(base) != "object"; });
  return has_base && impact::is_framework_called_method(impact::last_name_part(subject.qualname));
}

Result<std::string> render_json(const AuditReport& report) {
  json::PrettyWriter writer;
  writer.begin_object();
  writer.strings("files", report.files);
  writer.key("symbols_checked").number(report.symbols_checked);
  writer.key("findings").begin_array();
  for (const AuditFinding& finding : report.findings) {
    if (!is_valid_utf8(finding.file.native())) return std::unexpected(Error("path contains invalid UTF-8 characters"));
    writer.begin_object();
    writer.member("symbol", finding.symbol);
    writer.member("kind", kind_name(finding.kind));
    writer.member("file", finding.file.native());
    writer.key("line").number(finding.line);
    writer.member("severity", severity_name(finding.severity));
    writer.member("message", finding.message);
    writer.end_object();
  }
  writer.end_array();
  writer.end_object();
  return std::move(writer).take();
}

std::string render_text(const AuditReport& report, const std::filesystem::path& root) {
  std::string out;
  std::size_t warns = 0;
  std::size_t notes = 0;
  for (const AuditFinding& finding : report.findings) {
    (finding.severity == Severity::warn ? warns : notes) += 1;
    std::string severity(severity_name(finding.severity));
    severity.resize(std::max<std::size_t>(severity.size(), 5), ' ');
    out += severity + " " + audit_display_path(finding.file, root) + ":" + std::to_string(finding.line) + "  " +
           std::string(kind_word(finding.kind)) + " " + finding.message + "\n";
  }
  if (report.findings.empty()) out += "No findings.\n";
  out += "\n" + std::to_string(report.files.size()) + " file(s), " + std::to_string(report.symbols_checked) +
         " symbol(s) checked — " + std::to_string(warns) + " warn, " + std::to_string(notes) + " note\n";
  return out;
}

}  // namespace

void collect_audit_candidates(const DocumentSymbol& symbol, std::optional<std::string_view> enclosing,
                              std::vector<AuditCandidate>& out) {
  const std::string qualname = enclosing ? std::string(*enclosing) + "." + symbol.name : symbol.name;
  const bool callable = symbol.kind == DocumentSymbolKind::Function || symbol.kind == DocumentSymbolKind::Method;
  if (callable && !symbol.name.starts_with('_')) {
    const Position start = symbol.selection_range.start;
    out.push_back({qualname, start.line + 1, start.character + 1, symbol.kind});
  }
  for (const DocumentSymbol& child : symbol.children) collect_audit_candidates(child, qualname, out);
}

std::optional<AuditFinding> next_audit_finding(AuditSubjects& subjects) {
  while (subjects.next_ < subjects.subjects_.size()) {
    const AuditSubject& subject = subjects.subjects_[subjects.next_++];
    const ReferenceCounts counts = count_references(subject, subjects.file_, subjects.root_);
    if (counts.other > 0) continue;
    // A decorator that is not known to be transparent may register the function somewhere
    // the reference tool cannot see.
    if (!std::ranges::all_of(subject.decorator_names, impact::is_transparent_decorator)) continue;
    if (called_by_framework(subject)) continue;
    AuditFinding finding{subject.qualname, subjects.file_, {}, subject.line, Severity::warn, subject.kind};
    if (counts.tests > 0) {
      finding.severity = Severity::note;
      finding.message =
          "`" + subject.qualname + "` is referenced only from tests (" + std::to_string(counts.tests) + ")";
    } else {
      finding.message = "`" + subject.qualname + "` has no references";
    }
    return finding;
  }
  return std::nullopt;
}

Result<std::string> write_audit_report(const AuditReport& report, OutputFormat format,
                                       const std::filesystem::path& root) {
  if (format == OutputFormat::json) return render_json(report);
  return render_text(report, root);
}

std::string audit_display_path(const std::filesystem::path& path, const std::filesystem::path& root) {
  const auto relative = strip_root(path, root);
  return display_path(relative ? *relative : path);
}

}  // namespace pindrel
