#include "cli/value_checks.hpp"

#include <gtest/gtest.h>

#include <cstdint>
#include <limits>
#include <optional>
#include <string>
#include <string_view>

namespace pindrel::cli {
namespace {

TEST(ParseDecimal, HoldsTheLimit) {
  constexpr std::uint64_t u64_max = std::numeric_limits<std::uint64_t>::max();
  struct Case {
    std::string_view text;
    std::uint64_t max;
    std::optional<std::uint64_t> value;
  };
  const Case cases[] = {
      {"0", 0, 0},
      {"1", 0, std::nullopt},
      {"9", 0, std::nullopt},
      {"6", 6, 6},
      {"7", 6, std::nullopt},
      {"9", 8, std::nullopt},
      {"10", 9, std::nullopt},
      {"19", 18, std::nullopt},
      {"+12", 12, 12},
      {"007", 7, 7},
      {"4294967295", 4294967295, 4294967295},
      {"4294967296", 4294967295, std::nullopt},
      {"18446744073709551615", u64_max, u64_max},
      {"18446744073709551616", u64_max, std::nullopt},
      {"99999999999999999999", u64_max, std::nullopt},
      {"", 9, std::nullopt},
      {"+", 9, std::nullopt},
      {"-1", 9, std::nullopt},
      {"1a", 99, std::nullopt},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(std::string(c.text) + " up to " + std::to_string(c.max));
    EXPECT_EQ(parse_decimal(c.text, c.max), c.value);
  }
}

TEST(ParseDecimal, EverySmallLimitAcceptsExactlyZeroToTheLimit) {
  for (std::uint64_t max = 0; max <= 30; ++max) {
    for (std::uint64_t n = 0; n <= 120; ++n) {
      SCOPED_TRACE(std::to_string(n) + " up to " + std::to_string(max));
      const auto parsed = parse_decimal(std::to_string(n), max);
      if (n <= max) {
        EXPECT_EQ(parsed, n);
      } else {
        EXPECT_EQ(parsed, std::nullopt);
      }
    }
  }
}

}  // namespace
}  // namespace pindrel::cli
