#pragma once

// Checks of option values. Each answers the failure text for a value, or an empty text when
// the value is accepted; the parser puts the option's name in front.
#include <cstdint>
#include <optional>
#include <span>
#include <string>
#include <string_view>

namespace pindrel::cli {

// Jaro similarity of two texts, compared by Unicode scalar values: 1 for equal texts.
double jaro_similarity(std::string_view left, std::string_view right);

// `value` must be one of `names`; the failure lists them and suggests the closest one.
std::string check_one_of(const std::string& value, std::span<const std::string_view> names);

// Decimal digits with an optional leading "+", at most `max`.
std::optional<std::uint64_t> parse_decimal(std::string_view text, std::uint64_t max);
std::string check_decimal_up_to(const std::string& value, std::uint64_t max);

std::string check_utf8(const std::string& value);

}  // namespace pindrel::cli
