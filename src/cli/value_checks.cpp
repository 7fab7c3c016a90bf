#include "cli/value_checks.hpp"

#include "util/utf8.hpp"

#include <algorithm>
#include <vector>

namespace pindrel::cli {

double jaro_similarity(std::string_view left, std::string_view right) {
  const std::u32string a = code_points(left);
  const std::u32string b = code_points(right);
  if (a.empty() && b.empty()) return 1.0;
  if (a.empty() || b.empty()) return 0.0;
  const std::size_t half = std::max(a.size(), b.size()) / 2;
  const std::size_t reach = half > 0 ? half - 1 : 0;
  std::vector<bool> a_matched(a.size()), b_matched(b.size());
  std::size_t matches = 0;
  for (std::size_t i = 0; i < a.size(); ++i) {
    const std::size_t lo = i > reach ? i - reach : 0;
    const std::size_t hi = std::min(i + reach + 1, b.size());
    for (std::size_t j = lo; j < hi; ++j) {
      if (!b_matched[j] && a[i] == b[j]) {
        a_matched[i] = b_matched[j] = true;
        ++matches;
        break;
      }
    }
  }
  if (matches == 0) return 0.0;
  std::size_t transpositions = 0;
  for (std::size_t i = 0, j = 0; i < a.size(); ++i) {
    if (!a_matched[i]) continue;
    while (!b_matched[j]) ++j;
    if (a[i] != b[j]) ++transpositions;
    ++j;
  }
  const double m = static_cast<double>(matches);
  return (m / static_cast<double>(a.size()) + m / static_cast<double>(b.size()) +
          (m - static_cast<double>(transpositions) / 2.0) / m) /
         3.0;
}

std::string check_one_of(const std::string& value, std::span<const std::string_view> names) {
  if (std::ranges::find(names, value) != names.end()) return {};
  std::string message = "invalid value '" + value + "' [possible values: ";
  std::string_view best;
  double best_score = 0.7;
  for (std::size_t i = 0; i < names.size(); ++i) {
    if (i > 0) message += ", ";
    message += names[i];
    const double score = jaro_similarity(value, names[i]);
    if (score > best_score) {
      best_score = score;
      best = names[i];
    }
  }
  message += "]";
  if (!best.empty()) message += "; did you mean '" + std::string(best) + "'?";
  return message;
}

std::optional<std::uint64_t> parse_decimal(std::string_view text, std::uint64_t max) {
  if (text.starts_with('+')) text.remove_prefix(1);
  if (text.empty()) return std::nullopt;
  std::uint64_t value = 0;
  for (const char c : text) {
    if (c < '0' || c > '9') return std::nullopt;
    const auto digit = static_cast<std::uint64_t>(c - '0');
    // `max - digit` would wrap for a digit above the limit, which never fits anyway.
    if (digit > max || value > (max - digit) / 10) return std::nullopt;
    value = value * 10 + digit;
  }
  return value;
}

std::string check_decimal_up_to(const std::string& value, std::uint64_t max) {
  if (parse_decimal(value, max)) return {};
  return "invalid value '" + value + "': expected a whole number from 0 to " + std::to_string(max);
}

std::string check_utf8(const std::string& value) {
  if (is_valid_utf8(value)) return {};
  return "invalid value '" + value + "': not valid UTF-8";
}

}  // namespace pindrel::cli
