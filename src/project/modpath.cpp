#include "project/modpath.hpp"

#include "util/utf8.hpp"

#include <algorithm>
#include <span>
#include <string_view>
#include <system_error>
#include <vector>

namespace pindrel {
namespace {

enum class ComponentKind { root, current, parent, plain };

struct Component {
  ComponentKind kind;
  std::string_view text;
};

// The components of a path: "/" separated, repeated separators and "." components
// dropped except a "." that begins a relative path.
std::vector<Component> components_of(std::string_view path) {
  std::vector<Component> parts;
  std::size_t i = 0;
  if (!path.empty() && path.front() == '/') {
    parts.push_back({ComponentKind::root, path.substr(0, 1)});
    i = 1;
  }
  bool first = parts.empty();
  while (i < path.size()) {
    std::size_t end = path.find('/', i);
    if (end == std::string_view::npos) end = path.size();
    const std::string_view piece = path.substr(i, end - i);
    if (piece == ".") {
      if (first) parts.push_back({ComponentKind::current, piece});
    } else if (piece == "..") {
      parts.push_back({ComponentKind::parent, piece});
    } else if (!piece.empty()) {
      parts.push_back({ComponentKind::plain, piece});
    }
    if (!piece.empty()) first = false;
    i = end + 1;
  }
  return parts;
}

// Components joined by single separators, so that one directory has one spelling.
std::filesystem::path joined(std::span<const Component> parts) {
  std::string out;
  for (std::size_t k = 0; k < parts.size(); ++k) {
    if (k > 0 && parts[k - 1].kind != ComponentKind::root) out += '/';
    out += parts[k].text;
  }
  return out;
}

std::string join_dotted(const std::vector<std::string_view>& parts) {
  std::string out;
  for (const auto part : parts) {
    if (!out.empty()) out += '.';
    out += part;
  }
  return out;
}

// The text after the last "/"; the whole path when it has none.
std::string_view file_name_of(std::string_view path) { return path.substr(path.rfind('/') + 1); }

// The name less its "." and two-letter extension.
std::string_view py_stem(std::string_view name) { return name.substr(0, name.size() - 3); }

}  // namespace

bool has_py_extension(std::string_view path, ExtensionCase letters) {
  const std::string_view name = file_name_of(path);
  const std::size_t dot = name.rfind('.');
  if (dot == std::string_view::npos || dot == 0 || name.size() - dot != 3) return false;
  const char p = name[dot + 1], y = name[dot + 2];
  if (letters == ExtensionCase::exact) return p == 'p' && y == 'y';
  return (p == 'p' || p == 'P') && (y == 'y' || y == 'Y');
}

bool is_test_file_name(std::string_view path, ExtensionCase letters) {
  if (!has_py_extension(path, letters)) return false;
  const std::string_view stem = py_stem(file_name_of(path));
  return is_valid_utf8(stem) && stem.size() >= 5 && (stem.starts_with("test_") || stem.ends_with("_test"));
}

std::optional<std::string> module_name_for_path(const std::filesystem::path& root, const std::filesystem::path& path) {
  return module_name_for_path(path, [&root](const std::filesystem::path& dir) {
    std::error_code ec;
    return std::filesystem::exists(root / dir / "__init__.py", ec);
  });
}

std::optional<std::string> module_name_for_path(const std::filesystem::path& path, const InitFileProbe& has_init) {
  const std::vector<Component> parts = components_of(path.native());
  if (parts.empty() || parts.back().kind != ComponentKind::plain) return std::nullopt;
  const std::string_view file_name = parts.back().text;
  if (!has_py_extension(file_name, ExtensionCase::exact)) return std::nullopt;
  const std::string_view stem = py_stem(file_name);
  if (!is_valid_utf8(stem)) return std::nullopt;

  std::vector<std::string_view> packages;
  for (std::size_t level = parts.size() - 1; level > 0; --level) {
    const Component& dir = parts[level - 1];
    if (dir.kind != ComponentKind::plain || !is_valid_utf8(dir.text)) break;
    if (!has_init(joined(std::span(parts).first(level)))) break;
    packages.push_back(dir.text);
  }
  if (packages.empty()) {
    for (std::size_t k = 0; k + 1 < parts.size(); ++k) {
      if (is_valid_utf8(parts[k].text)) packages.push_back(parts[k].text);
    }
    if (!packages.empty() && packages.front() == "src") packages.erase(packages.begin());
  } else {
    std::reverse(packages.begin(), packages.end());
  }

  if (stem == "__init__") {
    if (packages.empty()) return std::nullopt;
    return join_dotted(packages);
  }
  packages.push_back(stem);
  return join_dotted(packages);
}

bool is_conftest(std::string_view path) { return file_name_of(path) == "conftest.py"; }

bool is_test_file(const std::filesystem::path& path, const std::filesystem::path& root) {
  std::vector<Component> parts = components_of(path.native());
  const std::vector<Component> prefix = components_of(root.native());
  bool under_root = prefix.size() <= parts.size();
  for (std::size_t k = 0; under_root && k < prefix.size(); ++k) {
    under_root = prefix[k].kind == parts[k].kind && prefix[k].text == parts[k].text;
  }
  if (under_root) parts.erase(parts.begin(), parts.begin() + static_cast<std::ptrdiff_t>(prefix.size()));

  for (const auto& part : parts) {
    if (part.text == "test" || part.text == "tests") return true;
  }
  if (parts.empty() || parts.back().kind != ComponentKind::plain) return false;
  // pytest loads a conftest.py for the tests below it wherever it stands, the top level included.
  if (parts.back().text == "conftest.py") return true;
  return is_test_file_name(parts.back().text, ExtensionCase::any_ascii);
}

std::optional<std::string> absolute_from_source(std::string_view source, const std::filesystem::path& file,
                                                const std::optional<std::string>& module) {
  const std::size_t dots = std::min(source.find_first_not_of('.'), source.size());
  if (dots == 0) return std::string(source);
  if (!module) return std::nullopt;
  std::string package = *module;
  if (file.filename() != "__init__.py") {
    const auto dot = package.rfind('.');
    if (dot == std::string::npos) return std::nullopt;
    package.resize(dot);
  }
  for (std::size_t k = 1; k < dots; ++k) {
    const auto dot = package.rfind('.');
    if (dot == std::string::npos) return std::nullopt;
    package.resize(dot);
  }
  const std::string_view rest = source.substr(dots);
  return rest.empty() ? package : package + "." + std::string(rest);
}

}  // namespace pindrel
