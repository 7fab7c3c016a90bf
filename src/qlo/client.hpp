#pragma once

#include "project/environment.hpp"
#include "util/error.hpp"
#include "util/process.hpp"

#include <chrono>
#include <cstdint>
#include <filesystem>
#include <optional>
#include <span>
#include <string>
#include <string_view>
#include <vector>

namespace pindrel {

// The reference tool: its executable and the directory every run of it starts in.
struct QloClient {
  std::filesystem::path path;
  std::filesystem::path root;
};

// One place that refers to a symbol, as the tool prints it.
struct Reference {
  std::string file;
  std::uint32_t line = 0;
  std::uint32_t column = 0;
  std::string context;
  friend bool operator==(const Reference&, const Reference&) = default;
};

// One answer of `qlo refs`.
struct ReferencesResult {
  std::string symbol;
  std::uint64_t reference_count = 0;
  std::vector<Reference> references;
  std::uint64_t test_reference_count = 0;
  std::vector<Reference> test_references;
  friend bool operator==(const ReferencesResult&, const ReferencesResult&) = default;
};

// A 0-based position, as the language server protocol counts.
struct Position {
  std::uint32_t line = 0;
  std::uint32_t character = 0;
  friend bool operator==(const Position&, const Position&) = default;
};

struct Range {
  Position start;
  Position end;
  friend bool operator==(const Range&, const Range&) = default;
};

enum class DocumentSymbolKind { Class, Function, Method, Property, Variable, Constant, Other };

// One entry of `qlo list`.
struct DocumentSymbol {
  std::string name;
  DocumentSymbolKind kind = DocumentSymbolKind::Other;
  Range range;
  Range selection_range;
  std::vector<DocumentSymbol> children;
  friend bool operator==(const DocumentSymbol&, const DocumentSymbol&) = default;
};

// A symbol to ask the tool about: its "{module}:{qualname}" name and the 1-based position of
// its name in a repository-relative file.
struct SymbolQuery {
  std::string name;
  std::filesystem::path file;
  std::uint32_t line = 0;
  std::uint32_t column = 0;
};

// A reference as the walk follows it: the file relative to the root when it lies under it.
struct ReferenceSite {
  std::filesystem::path file;
  std::uint32_t line = 0;
  friend bool operator==(const ReferenceSite&, const ReferenceSite&) = default;
};

// The answer for one queried symbol: its `references`, then its `test_references`.
struct SymbolReferences {
  std::string name;  // the query's name, not the answer's `symbol`
  std::vector<ReferenceSite> sites;
  friend bool operator==(const SymbolReferences&, const SymbolReferences&) = default;
};

// PINDREL_QLO unchanged when set, even empty; else "qlo" looked up on PATH.
Result<QloClient> resolve_qlo(const std::filesystem::path& root, const Environment& env);

// A `qlo refs` target: "{file}:{line}:{column}".
std::string qlo_refs_target(const std::filesystem::path& file, std::uint32_t line, std::uint32_t column);

// One `qlo refs` run for all targets, one answer per target in the tool's order; no targets
// start no process. A failure names every target. A run still going at the deadline is ended
// there, with its process group, and fails.
Result<std::vector<ReferencesResult>> run_qlo_refs(
    const QloClient& client, std::span<const std::string> targets,
    std::optional<std::chrono::steady_clock::time_point> deadline = std::nullopt);

// The checks every run shares: it started, ended before any deadline, exited 0 and printed
// UTF-8. The standard output.
Result<std::string> check_qlo_output(const std::filesystem::path& path, const Result<Finished>& outcome);

// The error for standard output that is not UTF-8, or none when it is.
std::optional<Error> qlo_output_utf8_error(std::string_view bytes);

// The output from its first "[" or "{" on, trailing white space removed.
Result<std::string_view> find_json_start(std::string_view text);

// One `qlo refs` answer object, possibly after banner lines.
Result<ReferencesResult> parse_references_result(std::string_view text);

// The answers in a `qlo refs` standard output: an array, or one object for one target; there
// must be as many as there were targets.
Result<std::vector<ReferencesResult>> parse_qlo_refs_output(std::string_view stdout_text, std::size_t targets);

// One walk level in one run: a `SymbolReferences` per query, in order, with `root` taken off
// the front of answer paths that lie under it.
Result<std::vector<SymbolReferences>> resolve_references_batch(
    const QloClient& client, const std::filesystem::path& root, std::span<const SymbolQuery> symbols,
    std::optional<std::chrono::steady_clock::time_point> deadline = std::nullopt);

// The JSON array that `qlo list` prints; nothing but JSON white space may follow it.
Result<std::vector<DocumentSymbol>> parse_document_symbols(std::string_view text);

// A language-server symbol-kind number as a `DocumentSymbolKind`.
DocumentSymbolKind symbol_kind_from_lsp(std::uint8_t number);

}  // namespace pindrel
