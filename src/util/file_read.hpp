#pragma once

#include "util/error.hpp"

#include <filesystem>
#include <optional>
#include <string>

namespace pindrel {

// The whole file's bytes, links followed; none when it does not exist, else the system's
// reason. Only a regular file is read: a FIFO, a socket or a device (/dev/zero has no end) is
// an error, and a directory fails with the system's reason.
Result<std::optional<std::string>> read_file_if_present(const std::filesystem::path& path);

// The same bytes as UTF-8 text: bytes that are not UTF-8 fail too.
Result<std::optional<std::string>> read_utf8_if_present(const std::filesystem::path& path);

// The same text into `text`, whose storage is reused from file to file; false when the file
// does not exist.
Result<bool> read_utf8_into(const std::filesystem::path& path, std::string& text);

// The same text, a missing file being the system's reason like any other.
Result<std::string> read_text_file(const std::filesystem::path& path);

}  // namespace pindrel
