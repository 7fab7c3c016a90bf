#include "impact/import_index.hpp"

#include "impact/import_names.hpp"
#include "pysource/imports.hpp"

#include <algorithm>
#include <iterator>
#include <utility>

namespace pindrel::impact {
namespace {

// Files are indexed in ascending order, so a repeat can only be the last entry.
void add_file(std::vector<std::size_t>& files, std::size_t file) {
  if (files.empty() || files.back() != file) files.push_back(file);
}

template <class Value>
Value& entry_of(ByModuleName<Value>& map, std::string_view name) {
  if (const auto found = map.find(name); found != map.end()) return found->second;
  return map.emplace(std::string(name), Value()).first->second;
}

void file_under_packages(ImportIndex& index, std::string_view name, std::size_t file) {
  for (std::size_t dot = name.find('.'); dot != std::string_view::npos; dot = name.find('.', dot + 1)) {
    add_file(entry_of(index.by_module, name.substr(0, dot)), file);
  }
  add_file(entry_of(index.by_module, name), file);
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
  std::string_view from = statement.source;
  std::optional<std::string> resolved;
  if (statement.level > 0) {
    const std::optional<std::string> base = package();
    if (!base) return;
    resolved = resolve_relative(statement.level, statement.source, *base);
    if (!resolved) return;
    from = *resolved;
  }
  if (from.empty()) return;
  file_under_packages(index, from, file);
  std::string submodule(from);
  submodule += '.';
  for (const std::string& name : statement.names) {
    if (name == "*") {
      add_file(entry_of(index.star_imports, from), file);
      continue;
    }
    submodule.resize(from.size() + 1);
    submodule += name;
    add_file(entry_of(index.by_module, submodule), file);
  }
}

}  // namespace

Result<ImportIndex> index_import_lines(SourceCache& cache, const ModuleNameOf& module_name_of) {
  ImportIndex index;
  for (std::size_t file = 0; file < cache.python_files.size(); ++file) {
    const std::filesystem::path& path = cache.python_files[file];
    std::optional<std::optional<std::string>> package;  // looked up at the first relative import
    const PackageOfFile package_of_file = [&]() -> std::optional<std::string> {
      if (!package) package = package_of(path, module_name_of(path));
      return *package;
    };
    auto scanned = scan_source(cache, path, [&](std::string_view text) {
      // Only a file that imports sys can change sys.path; `from sys import path` is taken as
      // changing it, since the name alone no longer shows.
      bool imports_sys = false;
      pysource::for_each_import(text, [&](const pysource::ImportStatement& statement) {
        index_statement(index, file, statement, package_of_file);
        if (statement.form == pysource::ImportForm::plain) {
          imports_sys = imports_sys || std::ranges::find(statement.names, "sys") != statement.names.end();
        } else if (statement.level == 0 && statement.source == "sys") {
          imports_sys = true;
          index.changes_sys_path =
              index.changes_sys_path || std::ranges::find(statement.names, "path") != statement.names.end();
        }
      });
      if (imports_sys && !index.changes_sys_path) index.changes_sys_path = changes_sys_path(text);
    });
    if (!scanned) return std::unexpected(std::move(scanned.error()));
  }
  return index;
}

std::vector<std::size_t> files_importing(const ImportIndex& index, std::string_view module) {
  std::vector<std::size_t> files;
  if (const auto found = index.by_module.find(module); found != index.by_module.end()) files = found->second;
  const auto dot = module.rfind('.');
  if (dot == std::string_view::npos) return files;
  const auto star = index.star_imports.find(module.substr(0, dot));
  if (star == index.star_imports.end()) return files;
  std::vector<std::size_t> merged;
  merged.reserve(files.size() + star->second.size());
  std::ranges::set_union(files, star->second, std::back_inserter(merged));
  return merged;
}

}  // namespace pindrel::impact
