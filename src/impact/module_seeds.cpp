#include "impact/module_seeds.hpp"

#include "modpath.hpp"
#include "pysource/word.hpp"
#include "util/utf8.hpp"

#include <string>
#include <vector>

namespace pindrel::impact {
namespace {

bool names_module(std::string_view name, std::string_view module, std::string_view prefix) {
  return name == module || name.starts_with(prefix);
}

bool is_ascii_space(char c) { return c == ' ' || c == '\t' || c == '\n' || c == '\r' || c == '\f' || c == '\v'; }

// The first white-space-separated word of a piece of an import list.
std::string_view first_word(std::string_view piece) {
  std::size_t start = 0;
  while (start < piece.size() && is_ascii_space(piece[start])) ++start;
  std::size_t end = start;
  while (end < piece.size() && !is_ascii_space(piece[end])) ++end;
  return piece.substr(start, end - start);
}

bool import_line_matches(std::string_view rest, std::string_view module, std::string_view prefix) {
  while (true) {
    const auto comma = rest.find(',');
    const std::string_view word = first_word(rest.substr(0, comma));
    if (!word.empty() && names_module(word, module, prefix)) return true;
    if (comma == std::string_view::npos) return false;
    rest.remove_prefix(comma + 1);
  }
}

bool from_line_matches(std::string_view rest, std::string_view module, std::string_view prefix, std::string_view parent,
                       std::string_view last_part) {
  const auto import_at = rest.find(" import ");
  if (import_at == std::string_view::npos) return false;
  const std::string_view source = trim_white_space(rest.substr(0, import_at));
  if (names_module(source, module, prefix)) return true;
  if (parent.empty() || source != parent) return false;
  const std::string_view names = rest.substr(import_at + 8);
  return pysource::contains_word(names, last_part) || trim_white_space_end(names).ends_with('(');
}

}  // namespace

bool line_imports_module(std::string_view line, std::string_view module, std::string_view prefix,
                         std::string_view parent, std::string_view last_part) {
  if (line.size() >= 7 && line.starts_with("import ")) return import_line_matches(line.substr(7), module, prefix);
  if (line.size() >= 5 && line.starts_with("from ")) {
    return from_line_matches(line.substr(5), module, prefix, parent, last_part);
  }
  return false;
}

WalkOutcome seed_module_change(WalkState& state, std::string_view module) {
  const auto dot = module.rfind('.');
  const std::string_view parent = dot == std::string_view::npos ? std::string_view() : module.substr(0, dot);
  const std::string_view last_part = dot == std::string_view::npos ? module : module.substr(dot + 1);
  const std::string prefix = std::string(module) + ".";

  std::vector<std::filesystem::path> importing;
  for (const std::filesystem::path& file : state.source_cache.python_files) {
    if (!is_test_file(file, state.root())) continue;
    auto source = read_source_cached(state.source_cache, file);
    if (!source) return WalkOutcome::stop(RunAllReason::index_failed, source.error().render());
    if (*source == nullptr) continue;
    std::string_view text = (*source)->text;
    while (!text.empty()) {
      const std::string_view line = trim_white_space(take_line(text));
      if (line_imports_module(line, module, prefix, parent, last_part)) {
        importing.push_back(file);
        break;
      }
    }
  }
  for (const std::filesystem::path& file : importing) {
    record_impacted_test(state, file, std::nullopt, TestKind::test, module);
  }
  return WalkOutcome::completed();
}

}  // namespace pindrel::impact
