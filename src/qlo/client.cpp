#include "qlo/client.hpp"

#include "qlo/strip_root.hpp"
#include "util/path_search.hpp"
#include "util/utf8.hpp"

#include <utility>

namespace pindrel {

Result<QloClient> resolve_qlo(const std::filesystem::path& root, const Environment& env) {
  if (env.pindrel_qlo) return QloClient{*env.pindrel_qlo, root};
  auto found = find_on_path("qlo", env.path_search);
  if (!found) {
    return std::unexpected(std::move(found.error())
                               .context("`qlo` not found on PATH. Install it with `uv add --dev quillo`, or point "
                                        "PINDREL_QLO at the binary."));
  }
  return QloClient{std::move(*found), root};
}

std::string qlo_refs_target(const std::filesystem::path& file, std::uint32_t line, std::uint32_t column) {
  return display_path(file) + ":" + std::to_string(line) + ":" + std::to_string(column);
}

Result<std::vector<ReferencesResult>> run_qlo_refs(const QloClient& client, std::span<const std::string> targets,
                                                   std::optional<std::chrono::steady_clock::time_point> deadline) {
  if (targets.empty()) return std::vector<ReferencesResult>{};
  Command command{{client.path.native(), "--format", "json", "refs"}, client.root};
  command.argv.insert(command.argv.end(), targets.begin(), targets.end());
  command.argv.insert(command.argv.end(), {"--tests", "--references-limit", "0"});
  CaptureOptions options;
  options.deadline = deadline;
  auto answers = [&]() -> Result<std::vector<ReferencesResult>> {
    auto stdout_text = check_qlo_output(client.path, run_captured(command, options));
    if (!stdout_text) return std::unexpected(std::move(stdout_text.error()));
    return parse_qlo_refs_output(*stdout_text, targets.size());
  }();
  if (!answers) {
    std::string joined;
    for (const std::string& target : targets) joined += (joined.empty() ? "" : ", ") + target;
    return std::unexpected(std::move(answers.error()).context("could not resolve references for " + joined));
  }
  return answers;
}

Result<std::vector<SymbolReferences>> resolve_references_batch(
    const QloClient& client, const std::filesystem::path& root, std::span<const SymbolQuery> symbols,
    std::optional<std::chrono::steady_clock::time_point> deadline) {
  std::vector<std::string> targets;
  targets.reserve(symbols.size());
  for (const SymbolQuery& symbol : symbols) targets.push_back(qlo_refs_target(symbol.file, symbol.line, symbol.column));
  auto answers = run_qlo_refs(client, targets, deadline);
  if (!answers) return std::unexpected(std::move(answers.error()));
  std::vector<SymbolReferences> resolved;
  resolved.reserve(symbols.size());
  for (std::size_t i = 0; i < symbols.size(); ++i) {
    SymbolReferences entry{symbols[i].name, {}};
    const ReferencesResult& answer = (*answers)[i];
    for (const auto* list : {&answer.references, &answer.test_references}) {
      for (const Reference& reference : *list) {
        std::filesystem::path file(reference.file);
        auto relative = strip_root(file, root);
        entry.sites.push_back({relative ? std::move(*relative) : std::move(file), reference.line});
      }
    }
    resolved.push_back(std::move(entry));
  }
  return resolved;
}

std::optional<Error> qlo_output_utf8_error(std::string_view bytes) {
  const auto failure = first_utf8_failure(bytes);
  if (!failure) return std::nullopt;
  const std::string index = std::to_string(failure->valid_up_to);
  Error cause(failure->error_len
                  ? "invalid utf-8 sequence of " + std::to_string(*failure->error_len) + " bytes from index " + index
                  : "incomplete utf-8 byte sequence from index " + index);
  return std::move(cause).context("`qlo` produced output that was not valid UTF-8");
}

Result<std::string> check_qlo_output(const std::filesystem::path& path, const Result<Finished>& outcome) {
  if (!outcome) return std::unexpected(outcome.error().context("failed to spawn `" + display_path(path) + "`"));
  if (outcome->out_of_time)
    return std::unexpected(Error("`" + display_path(path) + "` was still running at the deadline"));
  if (!outcome->status.success()) {
    return std::unexpected(Error("`" + display_path(path) + "` exited with " + to_text(outcome->status) + ": " +
                                 std::string(trim_white_space(lossy_utf8(outcome->err)))));
  }
  if (auto bad = qlo_output_utf8_error(outcome->out)) return std::unexpected(std::move(*bad));
  return outcome->out;
}

Result<std::string_view> find_json_start(std::string_view text) {
  const auto start = text.find_first_of("[{");
  if (start == std::string_view::npos) {
    return std::unexpected(Error("no JSON found in `qlo` output: " + std::string(trim_white_space(text))));
  }
  return trim_white_space_end(text.substr(start));
}

DocumentSymbolKind symbol_kind_from_lsp(std::uint8_t number) {
  switch (number) {
    case 5: return DocumentSymbolKind::Class;
    case 6: return DocumentSymbolKind::Method;
    case 7: return DocumentSymbolKind::Property;
    case 12: return DocumentSymbolKind::Function;
    case 13: return DocumentSymbolKind::Variable;
    case 14: return DocumentSymbolKind::Constant;
    default: return DocumentSymbolKind::Other;
  }
}

}  // namespace pindrel
