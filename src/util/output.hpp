#pragma once

#include "util/error.hpp"

#include <string>
#include <string_view>

namespace pindrel {

// Writes all of `text` to `fd`, retrying after interruptions; a failure is the system's reason, or
// "failed to write whole buffer" when a write takes no bytes.
Result<void> write_all(int fd, std::string_view text);

// Standard output behind one 8 KiB buffer. Bytes reach the descriptor when the buffer
// fills, on flush, or when the buffer is released; a failed write is the system's reason.
class Output {
 public:
  static constexpr std::size_t capacity = 8192;

  explicit Output(int fd = 1) : fd_(fd) { buffer_.reserve(capacity); }
  Output(const Output&) = delete;
  Output& operator=(const Output&) = delete;
  // Writes out what is left and ignores a failure: the run has already ended.
  ~Output();

  Result<void> write(std::string_view text);
  Result<void> flush();

 private:
  int fd_;
  std::string buffer_;
};

}  // namespace pindrel
