#include "qlo.hpp"

#include <cstdlib>
#include <utility>

#include "path_search.hpp"
#include "utf8.hpp"

namespace pindrel {
namespace {

// Where the first invalid UTF-8 sequence starts, and its length, none when the input ends
// inside a sequence that could still have been completed.
struct Utf8Failure {
  std::size_t valid_up_to = 0;
  std::optional<std::size_t> error_len;
};

std::optional<Utf8Failure> first_utf8_failure(std::string_view s) {
  std::size_t i = 0;
  while (i < s.size()) {
    const auto b0 = static_cast<unsigned char>(s[i]);
    std::size_t need = 0;
    unsigned char lo = 0x80, hi = 0xBF;
    if (b0 < 0x80) {
      ++i;
      continue;
    } else if (b0 >= 0xC2 && b0 <= 0xDF) {
      need = 1;
    } else if (b0 >= 0xE0 && b0 <= 0xEF) {
      need = 2;
      if (b0 == 0xE0) lo = 0xA0;
      if (b0 == 0xED) hi = 0x9F;
    } else if (b0 >= 0xF0 && b0 <= 0xF4) {
      need = 3;
      if (b0 == 0xF0) lo = 0x90;
      if (b0 == 0xF4) hi = 0x8F;
    } else {
      return Utf8Failure{i, 1};
    }
    for (std::size_t k = 1; k <= need; ++k) {
      if (i + k >= s.size()) return Utf8Failure{i, std::nullopt};
      const auto b = static_cast<unsigned char>(s[i + k]);
      if (b < lo || b > hi) return Utf8Failure{i, k};
      lo = 0x80;
      hi = 0xBF;
    }
    i += need + 1;
  }
  return std::nullopt;
}

// The code point that ends at `end` in valid UTF-8 text, and where it starts.
std::pair<char32_t, std::size_t> code_point_before(std::string_view text, std::size_t end) {
  std::size_t start = end - 1;
  while (start > 0 && (static_cast<unsigned char>(text[start]) & 0xC0) == 0x80) --start;
  const auto b0 = static_cast<unsigned char>(text[start]);
  char32_t cp = b0 < 0x80 ? b0 : b0 < 0xE0 ? (b0 & 0x1F) : b0 < 0xF0 ? (b0 & 0x0F) : (b0 & 0x07);
  for (std::size_t k = start + 1; k < end; ++k) cp = (cp << 6) | (static_cast<unsigned char>(text[k]) & 0x3F);
  return {cp, start};
}

std::pair<char32_t, std::size_t> code_point_at(std::string_view text, std::size_t start) {
  std::size_t end = start + 1;
  while (end < text.size() && (static_cast<unsigned char>(text[end]) & 0xC0) == 0x80) ++end;
  return {code_point_before(text, end).first, end};
}

// White space as Unicode defines it.
bool is_unicode_space(char32_t c) {
  return (c >= 0x09 && c <= 0x0D) || c == 0x20 || c == 0x85 || c == 0xA0 || c == 0x1680 ||
         (c >= 0x2000 && c <= 0x200A) || c == 0x2028 || c == 0x2029 || c == 0x202F || c == 0x205F ||
         c == 0x3000;
}

std::string_view trim_end(std::string_view text) {
  std::size_t end = text.size();
  while (end > 0) {
    const auto [cp, start] = code_point_before(text, end);
    if (!is_unicode_space(cp)) break;
    end = start;
  }
  return text.substr(0, end);
}

std::string_view trim(std::string_view text) {
  std::size_t start = 0;
  while (start < text.size()) {
    const auto [cp, next] = code_point_at(text, start);
    if (!is_unicode_space(cp)) break;
    start = next;
  }
  return trim_end(text.substr(start));
}

}  // namespace

Result<QloClient> resolve_qlo(const std::filesystem::path& root) {
  if (const char* explicit_path = std::getenv("PINDREL_QLO")) return QloClient{explicit_path, root};
  auto found = find_on_path("qlo", PathSearch::from_process());
  if (!found) {
    return std::unexpected(std::move(found.error())
                               .context("`qlo` not found on PATH. Install it with `uv add --dev quillo`, or point "
                                        "PINDREL_QLO at the binary."));
  }
  return QloClient{std::move(*found), root};
}

Result<std::vector<ReferencesResult>> run_qlo_refs(const QloClient& client, std::span<const std::string> targets) {
  if (targets.empty()) return std::vector<ReferencesResult>{};
  Command command{{client.path.native(), "--format", "json", "refs"}, client.root};
  command.argv.insert(command.argv.end(), targets.begin(), targets.end());
  command.argv.insert(command.argv.end(), {"--tests", "--references-limit", "0"});
  auto stdout_text = check_qlo_output(client.path, run_captured(command));
  if (!stdout_text) return std::unexpected(std::move(stdout_text.error()));
  return parse_qlo_refs_output(*stdout_text, targets.size());
}

Result<std::vector<SymbolReferences>> resolve_references_batch(const QloClient& client,
                                                               const std::filesystem::path& root,
                                                               std::span<const SymbolQuery> symbols) {
  std::vector<std::string> targets;
  targets.reserve(symbols.size());
  for (const SymbolQuery& symbol : symbols) {
    targets.push_back(display_path(symbol.file) + ":" + std::to_string(symbol.line) + ":" +
                      std::to_string(symbol.column));
  }
  auto answers = run_qlo_refs(client, targets);
  if (!answers) {
    std::string joined;
    for (const std::string& target : targets) joined += (joined.empty() ? "" : ", ") + target;
    return std::unexpected(std::move(answers.error()).context("could not resolve references for " + joined));
  }
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
  Error cause(failure->error_len ? "invalid utf-8 sequence of " + std::to_string(*failure->error_len) +
                                       " bytes from index " + index
                                 : "incomplete utf-8 byte sequence from index " + index);
  return std::move(cause).context("`qlo` produced output that was not valid UTF-8");
}

Result<std::string> check_qlo_output(const std::filesystem::path& path, const Result<Finished>& outcome) {
  if (!outcome) return std::unexpected(outcome.error().context("failed to spawn `" + display_path(path) + "`"));
  if (!outcome->status.success()) {
    return std::unexpected(Error("`" + display_path(path) + "` exited with " + to_text(outcome->status) + ": " +
                                 std::string(trim(lossy_utf8(outcome->err)))));
  }
  if (auto bad = qlo_output_utf8_error(outcome->out)) return std::unexpected(std::move(*bad));
  return outcome->out;
}

Result<std::string_view> find_json_start(std::string_view text) {
  const auto start = text.find_first_of("[{");
  if (start == std::string_view::npos) {
    return std::unexpected(Error("no JSON found in `qlo` output: " + std::string(trim(text))));
  }
  return trim_end(text.substr(start));
}

std::optional<std::filesystem::path> strip_root(const std::filesystem::path& path,
                                                const std::filesystem::path& root) {
  auto it = path.begin();
  for (const auto& component : root) {
    if (component.empty()) continue;  // the element a trailing separator yields
    if (it == path.end() || *it != component) return std::nullopt;
    ++it;
  }
  std::filesystem::path rest;
  for (; it != path.end(); ++it) rest /= *it;
  return rest;
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
