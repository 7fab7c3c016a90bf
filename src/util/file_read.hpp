#pragma once

#include "util/error.hpp"

#include <filesystem>
#include <optional>
#include <string>

namespace pindrel {

enum class FileKinds {
  any_but_stream,  // a FIFO or socket is refused
  regular_only,    // anything but a regular file is refused
};

// The whole file's bytes; none when it does not exist, else the system's reason. A file of a
// refused kind is never read: an error.
Result<std::optional<std::string>> read_file_if_present(const std::filesystem::path& path,
                                                        FileKinds kinds = FileKinds::any_but_stream);

// The same bytes as UTF-8 text: bytes that are not UTF-8 fail too.
Result<std::optional<std::string>> read_utf8_if_present(const std::filesystem::path& path,
                                                        FileKinds kinds = FileKinds::any_but_stream);

// The whole of a regular file as UTF-8 text: a missing file is the system's reason like any
// other; anything but a regular file, and bytes that are not UTF-8, fail too.
Result<std::string> read_text_file(const std::filesystem::path& path);

}  // namespace pindrel
