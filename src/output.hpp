#pragma once

#include <string>
#include <string_view>

#include "error.hpp"

namespace pindrel {

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
  Result<void> write_through(std::string_view text);

  int fd_;
  std::string buffer_;
};

}  // namespace pindrel
