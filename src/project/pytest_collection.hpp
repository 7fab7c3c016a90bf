#pragma once

// pytest's rules for the files, classes and functions it collects as tests, as the project's
// pytest settings give them, and whether it also collects the doctests of source modules.

#include "project/config.hpp"

#include <filesystem>
#include <string>
#include <string_view>
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

// Whether pytest collects doctests from source modules: `--doctest-modules` in `addopts` or
// among the words after `--`.
bool collects_doctest_modules(const PytestSettings& settings, const std::vector<std::string>& pytest_args);

}  // namespace pindrel
