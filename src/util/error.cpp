#include "util/error.hpp"

#include <cstring>

namespace pindrel {

std::string os_error_text(int errnum) {
  char buffer[256];
  // The GNU strerror_r may return a static string instead of filling the buffer.
  const char* text = strerror_r(errnum, buffer, sizeof buffer);
  return std::string(text) + " (os error " + std::to_string(errnum) + ")";
}

Error Error::from_errno(int errnum) { return Error(os_error_text(errnum)); }

std::string Error::render() const {
  std::string out;
  for (auto it = messages_.rbegin(); it != messages_.rend(); ++it) {
    if (!out.empty() || it != messages_.rbegin()) out += ": ";
    out += *it;
  }
  return out;
}

}  // namespace pindrel
