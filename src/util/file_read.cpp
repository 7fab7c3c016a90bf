#include "util/file_read.hpp"

#include "util/utf8.hpp"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>

namespace pindrel {

namespace {

// Replaces `text` with the file's bytes, in its own storage; false when the file does not exist.
Result<bool> read_whole_file_into(const std::filesystem::path& path, std::string& text) {
  // The system would read the name only up to the NUL, which is another file.
  if (path.native().find('\0') != std::string::npos) {
    return std::unexpected(Error("file name contained an unexpected NUL byte"));
  }
  // Non-blocking, so that opening a FIFO in place of a source file cannot hang the run.
  const int fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC | O_NONBLOCK);
  if (fd < 0) {
    if (errno == ENOENT) return false;
    return std::unexpected(Error::from_errno(errno));
  }
  struct stat st;
  if (::fstat(fd, &st) != 0) {
    const int saved = errno;
    ::close(fd);
    return std::unexpected(Error::from_errno(saved));
  }
  // A directory fails on the read below, with the system's own reason.
  if (!S_ISREG(st.st_mode) && !S_ISDIR(st.st_mode)) {
    ::close(fd);
    return std::unexpected(Error("not a regular file"));
  }
  // One byte beyond the size, so that a file read whole is seen to end on the next read.
  const std::size_t expected = S_ISREG(st.st_mode) && st.st_size > 0 ? static_cast<std::size_t>(st.st_size) : 0;
  text.resize(expected > 0 ? expected + 1 : 4096);
  std::size_t used = 0;
  while (true) {
    if (used == text.size()) text.resize(text.size() * 2);
    const ssize_t n = ::read(fd, text.data() + used, text.size() - used);
    if (n < 0) {
      if (errno == EINTR) continue;
      const int saved = errno;
      ::close(fd);
      text.clear();
      return std::unexpected(Error::from_errno(saved));
    }
    if (n == 0) break;
    used += static_cast<std::size_t>(n);
  }
  ::close(fd);
  text.resize(used);
  return true;
}

Result<std::optional<std::string>> read_whole_file(const std::filesystem::path& path) {
  std::string text;
  auto read = read_whole_file_into(path, text);
  if (!read) return std::unexpected(std::move(read.error()));
  if (!*read) return std::optional<std::string>();
  return std::optional<std::string>(std::move(text));
}

}  // namespace

Result<std::optional<std::string>> read_file_if_present(const std::filesystem::path& path) {
  return read_whole_file(path);
}

Result<std::optional<std::string>> read_utf8_if_present(const std::filesystem::path& path) {
  auto bytes = read_whole_file(path);
  if (bytes && *bytes && !is_valid_utf8(**bytes)) return std::unexpected(Error("stream did not contain valid UTF-8"));
  return bytes;
}

Result<bool> read_utf8_into(const std::filesystem::path& path, std::string& text) {
  auto read = read_whole_file_into(path, text);
  if (read && *read && !is_valid_utf8(text)) return std::unexpected(Error("stream did not contain valid UTF-8"));
  return read;
}

Result<std::string> read_text_file(const std::filesystem::path& path) {
  auto text = read_utf8_if_present(path);
  if (!text) return std::unexpected(std::move(text.error()));
  if (!*text) return std::unexpected(Error::from_errno(ENOENT));
  return std::move(**text);
}

}  // namespace pindrel
