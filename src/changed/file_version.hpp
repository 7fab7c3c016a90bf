#pragma once

#include "changed/diff_reader.hpp"
#include "project/git.hpp"
#include "pysource/header_evaluation.hpp"
#include "pysource/outline.hpp"
#include "util/error.hpp"

#include <cstdint>
#include <filesystem>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace pindrel::changed {

// One side of a changed Python file; its text is kept only inside its syntax tree.
struct FileVersion {
  std::string path;    // repository-relative
  std::string module;  // dotted module name of this side
  pysource::Outline outline;
  std::vector<bool> blank_lines;  // line N (1-based) at N - 1: nothing but white space
  pysource::SharedKeptTree tree;  // for reading what a changed header evaluates; may be null
};

enum class Side { merge_base, working_tree };

// The text of `path` on one side: none when there is no path or the file does not exist
// there. The working-tree text must be UTF-8; the merge-base text comes from `git show`.
Result<std::optional<std::string>> read_version_text(const std::optional<std::string>& path, const GitHandle& git,
                                                     const std::filesystem::path& root, std::string_view merge_base,
                                                     Side side);

// The version of `path` outlined from its text on one side, as read_version_text gives it.
Result<std::optional<FileVersion>> outline_version(const std::optional<std::string>& path,
                                                   const std::filesystem::path& root,
                                                   Result<std::optional<std::string>> text);

// Every line of the version, 1 to N, as one span; nothing for an absent or empty version.
std::vector<LineSpan> all_lines(const std::optional<FileVersion>& version);

// One flag per line of `text`: whether the line holds only white space.
std::vector<bool> blank_line_flags(std::string_view text);

// The module name of a repository path; a path that names no module (not ".py", a
// top-level `__init__.py`) becomes its components less the extension, joined by ".".
std::string module_for_path(const std::filesystem::path& root, std::string_view path);

}  // namespace pindrel::changed
