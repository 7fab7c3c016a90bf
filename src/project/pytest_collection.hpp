#pragma once

// pytest's rules for the files, classes and functions it collects as tests, as the project's
// pytest settings give them, and whether it also collects the doctests of source modules.

#include "project/config.hpp"

#include <filesystem>
#include <functional>
#include <span>
#include <string>
#include <string_view>
#include <unordered_map>
#include <vector>

namespace pindrel {

// Whether pytest collects tests from a file of this path: its name matches `python_files`
// (test_*.py or *_test.py when unset), the extension is exactly "py", and it is no conftest.py.
bool is_collectible_test_file(std::string_view path, const PytestSettings& settings);

// Whether a class of this own name is a test class by `python_classes` ("Test" when unset).
bool collects_class_name(std::string_view name, const PytestSettings& settings);

// Whether a function or method of this own name is a test by `python_functions` ("test" when unset).
bool collects_function_name(std::string_view name, const PytestSettings& settings);

// Python's fnmatch on POSIX: `*` any run (a "/" too), `?` one character, `[seq]` and
// `[!seq]` one character in or outside the set; case counts.
bool fnmatch_glob(std::string_view pattern, std::string_view text);

// Where the whole-suite run finds test files, beside their names: below its start paths (the
// `testpaths` that exist, as pytest started at the root takes them, else the root itself), in
// no directory below a start that `norecursedirs` names, and at no path that `--ignore` or
// `--ignore-glob` gives in `addopts` or among the words after `--`. Node ids bypass all of this,
// so the selection applies it itself. Paths are relative to the root, "/"-separated.
class SuiteCollection {
 public:
  SuiteCollection() = default;  // collects every path
  SuiteCollection(const PytestSettings& settings, const std::vector<std::string>& pytest_args,
                  const std::filesystem::path& root, std::span<const std::filesystem::path> files);

  // Whether the whole suite looks at the file `path`.
  bool collects(std::string_view path) const;

 private:
  // Whether a directory below a start, or a file, is one pytest does not enter or ignores.
  bool excluded(std::string_view path, bool is_directory) const;
  // The lengths of the leading parts of `path` that are start paths; [0] for the root.
  std::vector<std::size_t> starts_of(std::string_view path) const;

  bool everywhere_ = true;
  std::string root_;                        // made absolute as pytest's cwd, no final "/"
  std::vector<std::string> testpaths_;      // the patterns, split at "/" into components later
  std::vector<std::string> norecursedirs_;  // pytest's defaults when not set
  std::vector<std::string> ignored_;        // absolute and normal
  std::vector<std::string> ignored_globs_;  // absolute and normal
  mutable std::unordered_map<std::string, bool> excluded_dirs_;
};

// pytest's import modes for test modules: the first two name a module by its package chain.
enum class ImportMode { prepend, append, importlib };

// The `--import-mode` of `addopts` and the words after `--`, the last one given; prepend by default.
ImportMode import_mode(const PytestSettings& settings, const std::vector<std::string>& pytest_args);

// The module name pytest's prepend and append modes give the file `path`: its stem, after the
// names of the directories above it that are packages (hold an `__init__.py` and are named as
// identifiers), up to the first that is not. `is_package_dir` answers for a directory.
std::string pytest_module_name(std::string_view path, const std::function<bool(std::string_view dir)>& is_package_dir);

// Whether pytest collects doctests from source modules: `--doctest-modules` in `addopts` or
// among the words after `--`.
bool collects_doctest_modules(const PytestSettings& settings, const std::vector<std::string>& pytest_args);

}  // namespace pindrel
