#include "util/output.hpp"

#include <unistd.h>

#include <cerrno>

namespace pindrel {

Result<void> write_all(int fd, std::string_view text) {
  while (!text.empty()) {
    const ssize_t n = ::write(fd, text.data(), text.size());
    if (n < 0) {
      if (errno == EINTR) continue;
      return std::unexpected(Error::from_errno(errno));
    }
    // Trying again would spin for as long as the descriptor takes nothing.
    if (n == 0) return std::unexpected(Error("failed to write whole buffer"));
    text.remove_prefix(static_cast<std::size_t>(n));
  }
  return {};
}

Output::~Output() { (void)flush(); }

Result<void> Output::write(std::string_view text) {
  if (buffer_.size() + text.size() > capacity) {
    if (auto flushed = flush(); !flushed) return flushed;
  }
  // A text as large as the buffer would only pass through it.
  if (text.size() >= capacity) return write_all(fd_, text);
  buffer_.append(text);
  return {};
}

Result<void> Output::flush() {
  if (buffer_.empty()) return {};
  auto written = write_all(fd_, buffer_);
  // What could not be written stays dropped: retrying a closed pipe fails the same way.
  buffer_.clear();
  return written;
}

}  // namespace pindrel
