#include "impact/import_names.hpp"

#include "impact/module_seeds.hpp"
#include "pysource/word.hpp"

#include <algorithm>

namespace pindrel::impact {
namespace {

// The components a module's dotted names are made of: the directories of `file`, then its
// stem unless it is a package's `__init__.py`.
std::vector<std::string> path_parts(const std::filesystem::path& file) {
  std::vector<std::string> parts;
  for (const std::filesystem::path& part : file.parent_path()) {
    if (part != "." && !part.empty()) parts.push_back(part.string());
  }
  if (file.filename() != "__init__.py") parts.push_back(file.stem().string());
  return parts;
}

std::string joined(std::span<const std::string> parts) {
  std::string name;
  for (const std::string& part : parts) {
    if (!name.empty()) name += '.';
    name += part;
  }
  return name;
}

void add_name(std::vector<std::string>& names, std::string name) {
  if (!name.empty() && std::ranges::find(names, name) == names.end()) names.push_back(std::move(name));
}

// `module` behind each directory above it that holds no `__init__.py`, when the module's parts
// are the path's last ones.
void add_namespace_names(std::vector<std::string>& names, std::string_view module, std::span<const std::string> parts) {
  const auto module_parts = static_cast<std::size_t>(std::ranges::count(module, '.')) + 1;
  if (module_parts > parts.size()) return;
  const std::size_t first = parts.size() - module_parts;
  if (joined(parts.subspan(first)) != module) return;
  std::string name(module);
  for (std::size_t k = first; k-- > 0;) {
    name = parts[k] + "." + name;
    add_name(names, name);
  }
}

std::size_t skip_blanks(std::string_view text, std::size_t at) {
  while (at < text.size() && (text[at] == ' ' || text[at] == '\t')) ++at;
  return at;
}

// Whether what follows an occurrence of `sys.path`, from `at`, changes it.
bool changes_at(std::string_view text, std::size_t at) {
  at = skip_blanks(text, at);
  if (at == text.size()) return false;
  if (text[at] == '[') return true;
  if (text[at] == '=') return at + 1 == text.size() || text[at + 1] != '=';
  if (text.substr(at).starts_with("+=")) return true;
  if (text[at] != '.') return false;
  at = skip_blanks(text, at + 1);
  for (const std::string_view method : {"insert", "append", "extend"}) {
    if (!text.substr(at).starts_with(method)) continue;
    const std::size_t open = skip_blanks(text, at + method.size());
    return open < text.size() && text[open] == '(';
  }
  return false;
}

}  // namespace

bool changes_sys_path(std::string_view text) {
  constexpr std::string_view word = "sys.path";
  for (std::size_t at = text.find(word); at != std::string_view::npos; at = text.find(word, at + 1)) {
    if (at > 0 && pysource::is_word_byte(text[at - 1])) continue;
    const std::size_t end = at + word.size();
    if (end < text.size() && pysource::is_word_byte(text[end])) continue;
    if (changes_at(text, end)) return true;
  }
  return false;
}

std::vector<std::string> names_below_import_paths(const std::filesystem::path& file,
                                                  std::span<const std::string> pythonpath) {
  std::vector<std::string> names;
  const std::vector<std::string> parts = path_parts(file.lexically_normal());
  for (const std::string& entry : pythonpath) {
    const std::filesystem::path directory = std::filesystem::path(entry).lexically_normal();
    if (directory.is_absolute()) continue;
    std::vector<std::string> prefix;
    bool outside = false;
    for (const std::filesystem::path& part : directory) {
      if (part == "..") outside = true;
      if (part != "." && !part.empty()) prefix.push_back(part.string());
    }
    if (outside || prefix.size() >= parts.size() || !std::equal(prefix.begin(), prefix.end(), parts.begin())) continue;
    add_name(names, joined(std::span(parts).subspan(prefix.size())));
  }
  return names;
}

Result<std::vector<std::string>> module_import_names(WalkState& state, std::string_view module,
                                                     const std::filesystem::path& file) {
  std::vector<std::string> names = {std::string(module)};
  const std::vector<std::string> parts = path_parts(file);
  add_namespace_names(names, module, parts);
  for (std::string& name : names_below_import_paths(file, state.pytest.pythonpath)) add_name(names, std::move(name));
  auto index = walk_import_index(state);
  if (!index) return std::unexpected(std::move(index.error()));
  if ((*index)->changes_sys_path) {
    for (std::size_t first = 0; first < parts.size(); ++first) add_name(names, joined(std::span(parts).subspan(first)));
  }
  return names;
}

}  // namespace pindrel::impact
