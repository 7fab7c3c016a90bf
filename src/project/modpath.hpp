#pragma once

#include <filesystem>
#include <functional>
#include <optional>
#include <string>
#include <string_view>

namespace pindrel {

enum class ExtensionCase { exact, any_ascii };

// Whether the file name of `path` (after its last "/") has the extension "py": the text after
// the name's last ".", where that "." does not begin the name. Sources are told by the exact
// "py"; the test-file rule takes it in any ASCII case.
bool has_py_extension(std::string_view path, ExtensionCase letters);

// Whether the file name of `path` is a "test_*.py" or "*_test.py" name: an extension read as
// `letters` says, and a UTF-8 stem of at least 5 bytes.
bool is_test_file_name(std::string_view path, ExtensionCase letters);

// Whether the last component of the "/"-separated `path` is "conftest.py".
bool is_conftest(std::string_view path);

// Whether the directory `dir`, relative to the repository root, holds an `__init__.py`.
using InitFileProbe = std::function<bool(const std::filesystem::path& dir)>;

// The dotted module name of the repository file `path` (relative to `root`): the chain of
// packages marked by `__init__.py` on disk, else the directories less a leading "src".
// None for a file that is not ".py" (exact case) or a top-level `__init__.py`.
std::optional<std::string> module_name_for_path(const std::filesystem::path& root, const std::filesystem::path& path);

// The absolute module that `from source import ...` in `file`, whose module is `module`, names:
// a relative source is read from the file's package; none when its dots climb above it.
std::optional<std::string> absolute_from_source(std::string_view source, const std::filesystem::path& file,
                                                const std::optional<std::string>& module);

// The same rule with the `__init__.py` lookups answered by `has_init`, so that a caller
// naming many files can share the answers.
std::optional<std::string> module_name_for_path(const std::filesystem::path& path, const InitFileProbe& has_init);

// Whether `path` (relative, or absolute under `root`) is a test file: a directory or file
// named "test" or "tests" below the root, a "test_*.py" / "*_test.py" file, the extension in
// any ASCII case, or a conftest.py anywhere. Reads nothing from the file system.
bool is_test_file(const std::filesystem::path& path, const std::filesystem::path& root);

}  // namespace pindrel
