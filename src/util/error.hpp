#pragma once

#include <expected>
#include <string>
#include <utility>
#include <vector>

namespace pindrel {

// A failure: a root message and the context messages added on the way up.
class Error {
 public:
  explicit Error(std::string message) { messages_.push_back(std::move(message)); }

  // The error's description from the C library, as "{strerror} (os error {errno})".
  static Error from_errno(int errnum);

  // Wraps this error under `outer`, which becomes the first message.
  Error context(std::string outer) && {
    messages_.push_back(std::move(outer));
    return std::move(*this);
  }
  Error context(std::string outer) const& { return Error(*this).context(std::move(outer)); }

  // The outermost message alone.
  const std::string& message() const { return messages_.back(); }
  // The root message, the innermost cause.
  const std::string& root() const { return messages_.front(); }
  // Messages from the outermost to the root.
  std::vector<std::string> chain() const { return {messages_.rbegin(), messages_.rend()}; }
  // The "{:#}" rendering: every message from the outermost down, joined by ": ".
  std::string render() const;

  friend bool operator==(const Error&, const Error&) = default;

 private:
  std::vector<std::string> messages_;  // root first
};

template <class T>
using Result = std::expected<T, Error>;

// The system's reason for `errnum` alone, "{strerror} (os error {errno})".
std::string os_error_text(int errnum);

}  // namespace pindrel
