#include "impact/import_index.hpp"

#include "pysource/word.hpp"
#include "util/utf8.hpp"

#include <algorithm>
#include <utility>

namespace pindrel::impact {
namespace {

bool is_ascii_space(char c) { return c == ' ' || (c >= '\t' && c <= '\r'); }

// Whether a line can start with "import " or "from " once trimmed; most lines are told at
// their first byte, before the Unicode trim.
bool may_be_import_line(std::string_view line) {
  std::size_t at = 0;
  while (at < line.size() && is_ascii_space(line[at])) ++at;
  if (at == line.size()) return false;
  const auto first = static_cast<unsigned char>(line[at]);
  return first == 'i' || first == 'f' || first >= 0x80;
}

// The first white-space-separated word of a piece of an import list.
std::string_view first_word(std::string_view piece) {
  std::size_t start = 0;
  while (start < piece.size() && is_ascii_space(piece[start])) ++start;
  std::size_t end = start;
  while (end < piece.size() && !is_ascii_space(piece[end])) ++end;
  return piece.substr(start, end - start);
}

// Files are indexed in ascending order, so a repeat can only be the last entry.
void add_file(std::vector<std::size_t>& files, std::size_t file) {
  if (files.empty() || files.back() != file) files.push_back(file);
}

void file_under_packages(ImportIndex& index, std::string_view name, std::size_t file) {
  for (std::size_t dot = name.find('.'); dot != std::string_view::npos; dot = name.find('.', dot + 1)) {
    add_file(index.by_module[std::string(name.substr(0, dot))], file);
  }
  add_file(index.by_module[std::string(name)], file);
}

// The package a file's relative imports start from: the module of an `__init__.py`, else
// the module's parent; none for a top-level module or a file without a module name.
std::optional<std::string> package_of(const std::filesystem::path& file, const std::optional<std::string>& module) {
  if (!module) return std::nullopt;
  if (file.filename() == "__init__.py") return module;
  const auto dot = module->rfind('.');
  if (dot == std::string::npos) return std::nullopt;
  return module->substr(0, dot);
}

// `source` with its leading dots resolved against `package`, each dot past the first one
// package up; none when it climbs above the top.
std::optional<std::string> resolve_relative(std::string_view source, std::string_view package) {
  const std::size_t dots = source.find_first_not_of('.');
  const std::string_view rest = dots == std::string_view::npos ? std::string_view() : source.substr(dots);
  const std::size_t levels = dots == std::string_view::npos ? source.size() : dots;
  std::string_view base = package;
  for (std::size_t k = 1; k < levels; ++k) {
    const auto dot = base.rfind('.');
    if (dot == std::string_view::npos) return std::nullopt;
    base = base.substr(0, dot);
  }
  if (rest.empty()) return std::string(base);
  return std::string(base) + "." + std::string(rest);
}

// Whether `line` begins with the keyword followed by white space, a backslash or a bracket.
bool starts_with_keyword(std::string_view line, std::string_view keyword) {
  if (line.size() <= keyword.size() || !line.starts_with(keyword)) return false;
  const char next = line[keyword.size()];
  return is_ascii_space(next) || next == '\\' || next == '(';
}

// A line without its comment: an import statement holds no string in which "#" could stand.
std::string_view without_comment(std::string_view line) { return line.substr(0, line.find('#')); }

// The statement that starts on `line`, its comment left out, with the lines it continues on
// through a trailing backslash joined to it. The following lines are only looked at, not
// taken, so a line mistaken for the start of an import still has every line after it read.
std::string logical_line(std::string_view line, std::string_view following) {
  std::string joined(trim_white_space_end(without_comment(line)));
  while (joined.ends_with('\\') && !following.empty()) {
    joined.back() = ' ';
    joined += trim_white_space_end(without_comment(take_line(following)));
  }
  return joined;
}

// Where the keyword import separates a `from` line's source from its names, and the names'
// start.
std::optional<std::pair<std::size_t, std::size_t>> import_keyword(std::string_view rest) {
  for (std::size_t at = rest.find("import"); at != std::string_view::npos; at = rest.find("import", at + 1)) {
    const std::size_t end = at + 6;
    if (at == 0 || !(is_ascii_space(rest[at - 1]) || rest[at - 1] == '.')) continue;
    if (end < rest.size() && (is_ascii_space(rest[end]) || rest[end] == '(' || rest[end] == '*')) {
      return std::make_pair(at, end);
    }
  }
  return std::nullopt;
}

// Whether a `from` line's names open a parenthesised list that goes on past the line.
bool opens_list(std::string_view names) {
  const auto open = names.find('(');
  return open != std::string_view::npos && names.find(')', open) == std::string_view::npos;
}

using PackageOfFile = std::function<std::optional<std::string>()>;

// One import statement of `file`, trimmed.
void index_statement(ImportIndex& index, std::size_t file, std::string_view statement, const PackageOfFile& package) {
  if (starts_with_keyword(statement, "import")) {
    std::string_view rest = statement.substr(6);
    while (true) {
      const auto comma = rest.find(',');
      const std::string_view word = first_word(rest.substr(0, comma));
      if (!word.empty()) file_under_packages(index, word, file);
      if (comma == std::string_view::npos) break;
      rest.remove_prefix(comma + 1);
    }
    return;
  }
  if (!starts_with_keyword(statement, "from")) return;
  const std::string_view rest = statement.substr(4);
  const auto keyword = import_keyword(rest);
  if (!keyword) return;
  std::string from(trim_white_space(rest.substr(0, keyword->first)));
  if (from.starts_with('.')) {
    const std::optional<std::string> base = package();
    if (!base) return;
    auto resolved = resolve_relative(from, *base);
    if (!resolved) return;
    from = std::move(*resolved);
  }
  if (from.empty()) return;
  file_under_packages(index, from, file);
  index.by_package[std::move(from)].push_back({file, std::string(rest.substr(keyword->second))});
}

}  // namespace

Result<ImportIndex> index_import_lines(SourceCache& cache, const ModuleNameOf& module_name_of) {
  ImportIndex index;
  for (std::size_t file = 0; file < cache.python_files.size(); ++file) {
    const std::filesystem::path& path = cache.python_files[file];
    auto source = read_source_cached(cache, path);
    if (!source) return std::unexpected(std::move(source.error()));
    if (*source == nullptr) continue;
    std::optional<std::optional<std::string>> package;  // looked up at the first relative import
    std::string_view text = (*source)->text;
    while (!text.empty()) {
      const std::string_view raw = take_line(text);
      if (!may_be_import_line(raw)) continue;
      const std::string_view line = trim_white_space(raw);
      if (!starts_with_keyword(line, "import") && !starts_with_keyword(line, "from")) continue;
      const std::string statements = logical_line(line, text);
      std::string_view rest = statements;
      while (true) {
        const auto semicolon = rest.find(';');
        index_statement(index, file, trim_white_space(rest.substr(0, semicolon)), [&]() -> std::optional<std::string> {
          if (!package) package = package_of(path, module_name_of(path));
          return *package;
        });
        if (semicolon == std::string_view::npos) break;
        rest.remove_prefix(semicolon + 1);
      }
    }
  }
  return index;
}

std::vector<std::size_t> files_importing(const ImportIndex& index, std::string_view module) {
  std::vector<std::size_t> files;
  if (const auto found = index.by_module.find(std::string(module)); found != index.by_module.end()) {
    files = found->second;
  }
  const auto dot = module.rfind('.');
  if (dot == std::string_view::npos) return files;
  const std::string_view last_part = module.substr(dot + 1);
  if (const auto found = index.by_package.find(std::string(module.substr(0, dot))); found != index.by_package.end()) {
    for (const FromImportLine& line : found->second) {
      if (pysource::contains_word(line.names, last_part) || opens_list(line.names) ||
          trim_white_space(line.names) == "*") {
        files.push_back(line.file);
      }
    }
    std::ranges::sort(files);
    const auto repeats = std::ranges::unique(files);
    files.erase(repeats.begin(), repeats.end());
  }
  return files;
}

}  // namespace pindrel::impact
