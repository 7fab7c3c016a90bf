#pragma once

#include "cli/args.hpp"
#include "qlo/client.hpp"
#include "util/error.hpp"

#include <cstdint>
#include <filesystem>
#include <optional>
#include <span>
#include <string>
#include <string_view>
#include <vector>

namespace pindrel {

// A public function or method of an audited file, at the 1-based start of its name.
struct AuditCandidate {
  std::string qualname;
  std::uint32_t line = 0;
  std::uint32_t column = 0;
  DocumentSymbolKind kind = DocumentSymbolKind::Function;
  friend bool operator==(const AuditCandidate&, const AuditCandidate&) = default;
};

// A candidate with its references and the decorators and bases the outline gives it.
struct AuditSubject {
  std::string qualname;
  std::uint32_t line = 0;
  DocumentSymbolKind kind = DocumentSymbolKind::Function;
  ReferencesResult answer;
  std::vector<std::string> decorator_names;
  std::vector<std::string> superclass_names;  // of the class around the definition
};

enum class Severity { note, warn };

struct AuditFinding {
  std::string symbol;
  std::filesystem::path file;  // as given on the command line
  std::string message;
  std::uint32_t line = 0;
  Severity severity = Severity::warn;
  DocumentSymbolKind kind = DocumentSymbolKind::Function;
  friend bool operator==(const AuditFinding&, const AuditFinding&) = default;
};

struct AuditReport {
  std::vector<std::string> files;  // display paths, in command-line order
  std::vector<AuditFinding> findings;
  std::uint64_t symbols_checked = 0;
};

// Appends the candidates of `symbol`'s tree in pre-order; `enclosing` is the qualified name
// of the symbol around it.
void collect_audit_candidates(const DocumentSymbol& symbol, std::optional<std::string_view> enclosing,
                              std::vector<AuditCandidate>& out);

// The subjects of one audited file, judged one after the other.
class AuditSubjects {
 public:
  AuditSubjects(std::span<const AuditSubject> subjects, std::filesystem::path file, std::filesystem::path root)
      : subjects_(subjects), file_(std::move(file)), root_(std::move(root)) {}

 private:
  friend std::optional<AuditFinding> next_audit_finding(AuditSubjects& subjects);
  std::span<const AuditSubject> subjects_;
  std::filesystem::path file_;  // the audited path as given
  std::filesystem::path root_;  // the workspace root
  std::size_t next_ = 0;
};

// The next subject's finding, passing over subjects that yield none; none at the end.
std::optional<AuditFinding> next_audit_finding(AuditSubjects& subjects);

// The report as JSON or aligned text, rendered whole.
Result<std::string> write_audit_report(const AuditReport& report, OutputFormat format,
                                       const std::filesystem::path& root);

// The path less the leading root when it lies under it, as text.
std::string audit_display_path(const std::filesystem::path& path, const std::filesystem::path& root);

}  // namespace pindrel
