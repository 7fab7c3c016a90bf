#include "util/utf8.hpp"

#include <cstdint>
#include <cstring>

namespace pindrel {
namespace {

// Length of the valid UTF-8 sequence starting at `i`, or 0 with `bad` set to the
// number of bytes that form the invalid maximal prefix (at least 1).
std::size_t sequence_length(std::string_view s, std::size_t i, std::size_t& bad) {
  const auto b0 = static_cast<unsigned char>(s[i]);
  bad = 1;
  if (b0 < 0x80) return 1;
  std::size_t need;
  unsigned char lo = 0x80, hi = 0xBF;
  if (b0 >= 0xC2 && b0 <= 0xDF) {
    need = 1;
  } else if (b0 >= 0xE0 && b0 <= 0xEF) {
    need = 2;
    if (b0 == 0xE0) lo = 0xA0;
    if (b0 == 0xED) hi = 0x9F;
  } else if (b0 >= 0xF0 && b0 <= 0xF4) {
    need = 3;
    if (b0 == 0xF0) lo = 0x90;
    if (b0 == 0xF4) hi = 0x8F;
  } else {
    return 0;
  }
  for (std::size_t k = 1; k <= need; ++k) {
    if (i + k >= s.size()) return 0;
    const auto b = static_cast<unsigned char>(s[i + k]);
    if (b < lo || b > hi) return 0;
    lo = 0x80;
    hi = 0xBF;
    bad = k + 1;
  }
  return need + 1;
}

bool is_white_space(char32_t c) {
  return (c >= 0x09 && c <= 0x0D) || c == 0x20 || c == 0x85 || c == 0xA0 || c == 0x1680 ||
         (c >= 0x2000 && c <= 0x200A) || c == 0x2028 || c == 0x2029 || c == 0x202F || c == 0x205F || c == 0x3000;
}

// The scalar value of the valid sequence of `n` bytes at `i`.
char32_t decode(std::string_view s, std::size_t i, std::size_t n) {
  const auto b0 = static_cast<unsigned char>(s[i]);
  if (n == 1) return b0;
  char32_t c = b0 & (0x7F >> n);
  for (std::size_t k = 1; k < n; ++k) c = (c << 6) | (static_cast<unsigned char>(s[i + k]) & 0x3F);
  return c;
}

// The end of the run of ASCII bytes at `i`, taken eight at a time: sources and git's output are
// mostly ASCII, and a byte-by-byte decode of them shows in the profile.
std::size_t skip_ascii(std::string_view s, std::size_t i) {
  constexpr std::uint64_t high_bits = 0x8080808080808080;
  for (std::uint64_t word = 0; i + sizeof word <= s.size(); i += sizeof word) {
    std::memcpy(&word, s.data() + i, sizeof word);
    if (word & high_bits) break;
  }
  return i;
}

}  // namespace

std::optional<Utf8Failure> first_utf8_failure(std::string_view bytes) {
  for (std::size_t i = 0, bad = 0; i < bytes.size();) {
    i = skip_ascii(bytes, i);
    if (i == bytes.size()) break;
    const std::size_t n = sequence_length(bytes, i, bad);
    if (n == 0) {
      // Running out of input inside a sequence with a valid lead byte is not yet an
      // error of the bytes themselves.
      const auto lead = static_cast<unsigned char>(bytes[i]);
      if (lead >= 0xC2 && lead <= 0xF4 && i + bad >= bytes.size()) return Utf8Failure{i, std::nullopt};
      return Utf8Failure{i, bad};
    }
    i += n;
  }
  return std::nullopt;
}

bool is_valid_utf8(std::string_view bytes) { return !first_utf8_failure(bytes); }

std::string lossy_utf8(std::string_view bytes) {
  std::string out;
  out.reserve(bytes.size());
  std::size_t valid_from = 0;  // the valid bytes not yet copied start here
  for (std::size_t i = 0, bad = 0; i < bytes.size();) {
    i = skip_ascii(bytes, i);
    if (i == bytes.size()) break;
    const std::size_t n = sequence_length(bytes, i, bad);
    if (n == 0) {
      out.append(bytes.substr(valid_from, i - valid_from));
      out += "\xEF\xBF\xBD";
      i += bad;
      valid_from = i;
    } else {
      i += n;
    }
  }
  out.append(bytes.substr(valid_from));
  return out;
}

std::u32string code_points(std::string_view bytes) {
  std::u32string out;
  for (std::size_t i = 0, bad = 0; i < bytes.size();) {
    const std::size_t n = sequence_length(bytes, i, bad);
    if (n == 0) {
      out.push_back(U'\uFFFD');
      i += bad;
    } else {
      out.push_back(decode(bytes, i, n));
      i += n;
    }
  }
  return out;
}

std::string display_path(const std::filesystem::path& path) { return lossy_utf8(path.native()); }

std::size_t scalar_count(std::string_view text) {
  std::size_t count = 0;
  for (std::size_t i = 0; i < text.size(); ++i) count += is_char_boundary(text, i);
  return count;
}

Utf8Step utf8_step(std::string_view bytes, std::size_t i) {
  std::size_t bad = 0;
  const std::size_t n = sequence_length(bytes, i, bad);
  return n == 0 ? Utf8Step{bad, false} : Utf8Step{n, true};
}

bool is_char_boundary(std::string_view text, std::size_t i) {
  return i >= text.size() || (static_cast<unsigned char>(text[i]) & 0xC0) != 0x80;
}

std::string_view trim_white_space_end(std::string_view text) {
  std::size_t end = text.size(), bad = 0;
  while (end > 0) {
    std::size_t start = end - 1;
    while (start > 0 && end - start < 4 && (static_cast<unsigned char>(text[start]) & 0xC0) == 0x80) --start;
    const std::size_t n = sequence_length(text, start, bad);
    if (n != end - start || !is_white_space(decode(text, start, n))) break;
    end = start;
  }
  return text.substr(0, end);
}

namespace {

// The length of the white space that `text` starts with.
std::size_t leading_white_space(std::string_view text) {
  std::size_t begin = 0, bad = 0;
  while (begin < text.size()) {
    const std::size_t n = sequence_length(text, begin, bad);
    if (n == 0 || !is_white_space(decode(text, begin, n))) break;
    begin += n;
  }
  return begin;
}

}  // namespace

std::string_view trim_white_space(std::string_view text) {
  return trim_white_space_end(text.substr(leading_white_space(text)));
}

bool is_blank(std::string_view text) { return leading_white_space(text) == text.size(); }

std::string_view take_line(std::string_view& text) {
  const auto newline = text.find('\n');
  std::string_view line = text.substr(0, newline);
  if (newline == std::string_view::npos) {
    text = {};
  } else {
    text.remove_prefix(newline + 1);
    if (line.ends_with('\r')) line.remove_suffix(1);
  }
  return line;
}

std::string debug_quoted(std::string_view text) {
  static constexpr char hex[] = "0123456789abcdef";
  static constexpr char upper_hex[] = "0123456789ABCDEF";
  std::string out = "\"";
  for (std::size_t i = 0, bad = 0; i < text.size(); ++i) {
    const auto c = static_cast<unsigned char>(text[i]);
    unsigned control = 0x100;  // none
    switch (c) {
      case '"': out += "\\\""; continue;
      case '\\': out += "\\\\"; continue;
      case '\n': out += "\\n"; continue;
      case '\r': out += "\\r"; continue;
      case '\t': out += "\\t"; continue;
      case '\0': out += "\\0"; continue;
      default:
        if (c < 0x20 || c == 0x7F) control = c;
        // U+0080 to U+009F, the C1 controls, are 0xC2 0x80 to 0xC2 0x9F in UTF-8.
        else if (c == 0xC2 && i + 1 < text.size() && static_cast<unsigned char>(text[i + 1]) < 0xA0) {
          control = static_cast<unsigned char>(text[++i]);
        }
    }
    if (control != 0x100) {
      out += "\\u{";
      if (control >= 16) out += hex[control / 16];
      out += hex[control % 16];
      out += '}';
      continue;
    }
    if (c < 0x80) {
      out += static_cast<char>(c);
      continue;
    }
    const std::size_t n = sequence_length(text, i, bad);
    if (n == 0) {
      // Bytes that are not UTF-8 stay visible, and the message stays valid text.
      for (std::size_t k = 0; k < bad; ++k) {
        const auto b = static_cast<unsigned char>(text[i + k]);
        out += "\\x";
        out += upper_hex[b / 16];
        out += upper_hex[b % 16];
      }
      i += bad - 1;
    } else {
      out.append(text.substr(i, n));
      i += n - 1;
    }
  }
  return out + "\"";
}

}  // namespace pindrel
