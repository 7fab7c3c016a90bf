#include "changed/file_version.hpp"

#include "project/modpath.hpp"
#include "util/file_read.hpp"
#include "util/utf8.hpp"

#include <algorithm>
#include <limits>
#include <utility>

namespace pindrel::changed {
namespace {

Result<std::optional<std::string>> read_working_tree(const std::filesystem::path& root, const std::string& path) {
  auto text = read_utf8_if_present(root / path);
  if (!text) return std::unexpected(std::move(text.error()).context("could not read " + path));
  return text;
}

Result<std::optional<std::string>> read_merge_base(const GitHandle& git, std::string_view merge_base,
                                                   const std::string& path) {
  // A path that the merge base does not hold comes back as none: that side is absent.
  auto shown = show_file_at(git, merge_base, path);
  if (!shown) return std::unexpected(std::move(shown.error()).context("could not read " + path + " at the merge base"));
  return shown;
}

}  // namespace

Result<std::optional<std::string>> read_version_text(const std::optional<std::string>& path, const GitHandle& git,
                                                     const std::filesystem::path& root, std::string_view merge_base,
                                                     Side side) {
  if (!path) return std::optional<std::string>();
  return side == Side::working_tree ? read_working_tree(root, *path) : read_merge_base(git, merge_base, *path);
}

Result<std::optional<FileVersion>> outline_version(const std::optional<std::string>& path,
                                                   const std::filesystem::path& root,
                                                   Result<std::optional<std::string>> text) {
  if (!text) return std::unexpected(std::move(text.error()));
  if (!path || !*text) return std::optional<FileVersion>();

  std::vector<bool> blank_lines = blank_line_flags(**text);
  auto outlined = pysource::outline_keeping_tree(std::move(**text));
  if (!outlined) return std::unexpected(std::move(outlined.error()).context("could not parse " + *path));
  return std::optional<FileVersion>(FileVersion{*path, module_for_path(root, *path), std::move(outlined->outline),
                                                std::move(blank_lines), std::move(outlined->tree)});
}

std::vector<LineSpan> all_lines(const std::optional<FileVersion>& version) {
  if (!version || version->blank_lines.empty()) return {};
  constexpr std::size_t limit = std::numeric_limits<std::uint32_t>::max();
  return {LineSpan{1, static_cast<std::uint32_t>(std::min(version->blank_lines.size(), limit))}};
}

std::vector<bool> blank_line_flags(std::string_view text) {
  std::vector<bool> flags;
  while (!text.empty()) {
    flags.push_back(is_blank(take_line(text)));
  }
  return flags;
}

std::string module_for_path(const std::filesystem::path& root, std::string_view path) {
  if (auto module = module_name_for_path(root, std::filesystem::path(path))) return std::move(*module);
  const auto slash = path.rfind('/');
  const std::size_t name_start = slash == std::string_view::npos ? 0 : slash + 1;
  const auto dot = path.rfind('.');
  if (dot != std::string_view::npos && dot > name_start) path = path.substr(0, dot);
  std::string module;
  while (!path.empty()) {
    const auto next = path.find('/');
    const std::string_view part = path.substr(0, next);
    if (!part.empty()) {
      if (!module.empty()) module += '.';
      module += part;
    }
    if (next == std::string_view::npos) break;
    path.remove_prefix(next + 1);
  }
  return module;
}

}  // namespace pindrel::changed
