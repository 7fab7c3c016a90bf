#include "impact/import_index.hpp"

#include "pysource/imports.hpp"
#include "pysource/word.hpp"

#include <algorithm>
#include <utility>

namespace pindrel::impact {
namespace {

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

// A relative source, `levels` dots and then `rest`, resolved against `package`: each dot past
// the first one package up; none when it climbs above the top.
std::optional<std::string> resolve_relative(std::size_t levels, const std::string& rest, std::string_view package) {
  std::string_view base = package;
  for (std::size_t k = 1; k < levels; ++k) {
    const auto dot = base.rfind('.');
    if (dot == std::string_view::npos) return std::nullopt;
    base = base.substr(0, dot);
  }
  if (rest.empty()) return std::string(base);
  return std::string(base) + "." + rest;
}

using PackageOfFile = std::function<std::optional<std::string>()>;

void index_statement(ImportIndex& index, std::size_t file, const pysource::ImportStatement& statement,
                     const PackageOfFile& package) {
  if (statement.form == pysource::ImportForm::plain) {
    for (const std::string& name : statement.names) file_under_packages(index, name, file);
    return;
  }
  std::string from = statement.source;
  if (statement.level > 0) {
    const std::optional<std::string> base = package();
    if (!base) return;
    auto resolved = resolve_relative(statement.level, from, *base);
    if (!resolved) return;
    from = std::move(*resolved);
  }
  if (from.empty()) return;
  std::string names;
  for (const std::string& name : statement.names) {
    if (!names.empty()) names += ' ';
    names += name;
  }
  file_under_packages(index, from, file);
  index.by_package[std::move(from)].push_back({file, std::move(names)});
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
    const PackageOfFile package_of_file = [&]() -> std::optional<std::string> {
      if (!package) package = package_of(path, module_name_of(path));
      return *package;
    };
    pysource::for_each_import((*source)->text, [&](const pysource::ImportStatement& statement) {
      index_statement(index, file, statement, package_of_file);
    });
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
      if (line.names == "*" || pysource::contains_word(line.names, last_part)) {
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
