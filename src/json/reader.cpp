#include "json/reader.hpp"

#include "util/utf8.hpp"

#include <cassert>
#include <charconv>
#include <cmath>

namespace pindrel::json {

namespace {

using Type = Event::Type;

// A real number as the messages show it: its shortest exact digits, in positional notation with a
// decimal point while the number has at most 16 digits before the point and at most 4 zeros after it,
// otherwise as digits with an exponent ("1e20", "1.5e-7").
std::string display_real(double value) {
  if (std::isnan(value)) return "NaN";
  if (std::isinf(value)) return value > 0 ? "inf" : "-inf";
  char buffer[64];
  const auto result = std::to_chars(buffer, buffer + sizeof buffer, value, std::chars_format::scientific);
  const std::string_view scientific(buffer, static_cast<std::size_t>(result.ptr - buffer));
  const std::size_t e = scientific.find('e');
  std::string sign, digits;
  for (const char c : scientific.substr(0, e)) {
    if (c == '-')
      sign = "-";
    else if (c != '.')
      digits += c;
  }
  int exponent = 0;
  const std::string_view exponent_text = scientific.substr(e + 1);
  std::from_chars(exponent_text.data() + (exponent_text[0] == '+' ? 1 : 0), exponent_text.data() + exponent_text.size(),
                  exponent);
  const long point = exponent + 1;  // digits before the decimal point
  const auto count = static_cast<long>(digits.size());
  std::string plain;
  if (point > 16 || point <= -5) {
    plain = digits.substr(0, 1);
    if (count > 1) plain += "." + digits.substr(1);
    plain += "e" + std::to_string(exponent);
  } else if (point <= 0) {
    plain = "0." + std::string(static_cast<std::size_t>(-point), '0') + digits;
  } else if (point >= count) {
    plain = digits + std::string(static_cast<std::size_t>(point - count), '0') + ".0";
  } else {
    plain = digits.substr(0, static_cast<std::size_t>(point)) + "." + digits.substr(static_cast<std::size_t>(point));
  }
  return sign + plain;
}

// Whether an integer token has an integer reading: from -2^63 to 2^64 - 1. Beyond that it is read as
// the nearest real number.
bool fits_integer(std::string_view digits) {
  if (digits.starts_with('-')) {
    std::int64_t value = 0;
    return std::from_chars(digits.data(), digits.data() + digits.size(), value).ec == std::errc();
  }
  std::uint64_t value = 0;
  return std::from_chars(digits.data(), digits.data() + digits.size(), value).ec == std::errc();
}

template <class T>
Result<T> narrowed(Result<u128>&& value) {
  if (!value) return std::unexpected(std::move(value.error()));
  return static_cast<T>(*value);
}

bool is_scalar(Type type) { return type != Type::begin_object && type != Type::begin_array; }

}  // namespace

std::string expected_names(std::span<const std::string_view> names) {
  assert(!names.empty());
  const auto ticked = [](std::string_view name) { return "`" + std::string(name) + "`"; };
  if (names.size() == 1) return ticked(names[0]);
  if (names.size() == 2) return ticked(names[0]) + " or " + ticked(names[1]);
  std::string out = "one of ";
  for (std::size_t i = 0; i < names.size(); ++i) {
    if (i > 0) out += ", ";
    out += ticked(names[i]);
  }
  return out;
}

std::string unknown_variant_message(std::string_view name, std::span<const std::string_view> names) {
  return "unknown variant `" + std::string(name) + "`, expected " + expected_names(names);
}

Error Reader::error_at(std::string_view message, std::size_t offset) const {
  return Error(std::string(message) + position_suffix(text_, offset));
}

Error Reader::error_here(std::string_view message) const { return error_at(message, last_end_); }

Result<const Event*> Reader::peek() {
  if (!peeked_) {
    tokens_.next(next_);
    peeked_ = true;
  }
  if (next_.type == Type::error) return std::unexpected(Error(next_.text));
  return &next_;
}

const Event& Reader::take() {
  if (!peeked_) tokens_.next(next_);
  assert(next_.type != Type::error);
  peeked_ = false;
  last_end_ = next_.end;
  return next_;
}

// A scalar counts as read before its type is refused; a container is refused at its opening bracket.
Error Reader::invalid_type(const Event& found, std::string_view expected) const {
  std::string description;
  switch (found.type) {
    case Type::string: description = "string " + debug_quoted(found.text); break;
    case Type::integer: {
      const std::size_t start = token_start(text_, found);
      const std::string_view digits = text_.substr(start, found.end - start);
      description = fits_integer(digits) ? "integer `" + std::string(digits) + "`"
                                         : "floating point `" + display_real(found.real) + "`";
      break;
    }
    case Type::real: description = "floating point `" + display_real(found.real) + "`"; break;
    case Type::boolean: description = found.boolean ? "boolean `true`" : "boolean `false`"; break;
    case Type::null: description = "null"; break;
    case Type::begin_object: description = "map"; break;
    case Type::begin_array: description = "sequence"; break;
    default: assert(false && "not the start of a value");
  }
  return error_at("invalid type: " + description + ", expected " + std::string(expected),
                  is_scalar(found.type) ? found.end : token_start(text_, found));
}

Result<void> Reader::finish() {
  assert(tokens_.complete() && !peeked_ && "the document's value was not read whole");
  const std::size_t rest = skip_white_space(text_, last_end_);
  if (rest < text_.size()) return std::unexpected(error_at("trailing characters", peeked(text_, rest)));
  return {};
}

Result<std::string> Reader::read_string() {
  auto event = peek();
  if (!event) return std::unexpected(std::move(event.error()));
  if ((*event)->type != Type::string) return std::unexpected(invalid_type(**event, "a string"));
  take();
  return std::move(next_.text);
}

Result<u128> Reader::read_unsigned(u128 max, std::string_view type) {
  auto event = peek();
  if (!event) return std::unexpected(std::move(event.error()));
  if ((*event)->type != Type::integer) return std::unexpected(invalid_type(**event, type));
  const Event& number = take();
  const std::size_t start = token_start(text_, number);
  const std::string_view digits = text_.substr(start, number.end - start);
  const auto out_of_range = [&] {
    return std::unexpected(
        error_at("invalid value: integer `" + std::string(digits) + "`, expected " + std::string(type), number.end));
  };
  if (digits.starts_with('-')) return out_of_range();
  u128 value = 0;
  for (const char c : digits) {
    const auto digit = static_cast<unsigned>(c - '0');
    if (value > (max - digit) / 10) return out_of_range();
    value = value * 10 + digit;
  }
  return value;
}

Result<std::uint8_t> Reader::read_u8() { return narrowed<std::uint8_t>(read_unsigned(UINT8_MAX, "u8")); }

Result<std::uint32_t> Reader::read_u32() { return narrowed<std::uint32_t>(read_unsigned(UINT32_MAX, "u32")); }

Result<std::uint64_t> Reader::read_u64() { return narrowed<std::uint64_t>(read_unsigned(UINT64_MAX, "u64")); }

Result<u128> Reader::read_u128() { return read_unsigned(~u128{0}, "u128"); }

Result<std::vector<std::string>> Reader::read_strings() {
  return read_list<std::string>([](Reader& reader) { return reader.read_string(); });
}

Result<void> Reader::read_elements(FunctionRef<Result<void>(Reader&)> read_element) {
  auto event = peek();
  if (!event) return std::unexpected(std::move(event.error()));
  if ((*event)->type != Type::begin_array) return std::unexpected(invalid_type(**event, "a sequence"));
  take();
  while (true) {
    auto next = peek();
    if (!next) return std::unexpected(std::move(next.error()));
    if ((*next)->type == Type::end_array) {
      take();
      return {};
    }
    if (auto element = read_element(*this); !element) return element;
  }
}

Result<void> Reader::read_fields(const Fields& record, FunctionRef<Result<void>(std::size_t field)> read_field) {
  auto event = peek();
  if (!event) return std::unexpected(std::move(event.error()));
  switch ((*event)->type) {
    case Type::begin_object: return read_object_form(record, read_field);
    case Type::begin_array: return read_array_form(record, read_field);
    default: return std::unexpected(invalid_type(**event, "struct " + std::string(record.type)));
  }
}

Result<void> Reader::read_object_form(const Fields& record, FunctionRef<Result<void>(std::size_t field)> read_field) {
  take();
  // Records have a handful of fields; 64 bits keep track of them without an allocation.
  assert(record.names.size() <= 64);
  std::uint64_t seen = 0;
  while (true) {
    auto event = peek();
    if (!event) return std::unexpected(std::move(event.error()));
    const Event& key = take();
    if (key.type == Type::end_object) break;
    assert(key.type == Type::key);
    // A refused key is reported where its value would begin, past the white space after it.
    const std::size_t after_key = skip_white_space(text_, key.end);
    std::size_t field = 0;
    while (field < record.names.size() && record.names[field] != key.text) ++field;
    if (field == record.names.size()) {
      if (record.unknown == UnknownFields::skip) {
        if (auto skipped = skip_value(); !skipped) return skipped;
        continue;
      }
      return std::unexpected(
          error_at("unknown field `" + key.text + "`, expected " + expected_names(record.names), after_key));
    }
    const std::uint64_t bit = std::uint64_t{1} << field;
    if (seen & bit) return std::unexpected(error_at("duplicate field `" + key.text + "`", after_key));
    seen |= bit;
    if (auto value = read_field(field); !value) return value;
  }
  const std::size_t closed = last_end_;
  for (std::size_t field = 0; field < record.names.size(); ++field) {
    if (!(seen & (std::uint64_t{1} << field)) && record.presence[field] == Presence::required) {
      return std::unexpected(error_at("missing field `" + std::string(record.names[field]) + "`", closed));
    }
  }
  return {};
}

Result<void> Reader::read_array_form(const Fields& record, FunctionRef<Result<void>(std::size_t field)> read_field) {
  take();
  std::size_t count = 0;
  while (count < record.names.size()) {
    auto event = peek();
    if (!event) return std::unexpected(std::move(event.error()));
    if ((*event)->type == Type::end_array) break;
    if (auto value = read_field(count); !value) return value;
    ++count;
  }
  if (count == record.names.size()) {
    // A value past the last field is refused at its first character, whatever it is.
    const std::size_t after = skip_white_space(text_, last_end_);
    if (after == text_.size()) return std::unexpected(error_at("EOF while parsing a list", after));
    if (text_[after] == ',') {
      const std::size_t extra = skip_white_space(text_, after + 1);
      const bool comma_only = extra < text_.size() && text_[extra] == ']';
      return std::unexpected(error_at(comma_only ? "trailing comma" : "trailing characters", peeked(text_, extra)));
    }
    if (text_[after] != ']') return std::unexpected(error_at("trailing characters", peeked(text_, after)));
  }
  auto event = peek();
  if (!event) return std::unexpected(std::move(event.error()));
  assert((*event)->type == Type::end_array);
  const Event& closing = take();
  for (std::size_t field = count; field < record.names.size(); ++field) {
    if (record.presence[field] != Presence::defaulted) {
      return std::unexpected(error_at("invalid length " + std::to_string(count) + ", expected struct " +
                                          std::string(record.type) + " with " + std::to_string(record.names.size()) +
                                          " elements",
                                      closing.end));
    }
  }
  return {};
}

Result<std::size_t> Reader::read_variant(std::span<const std::string_view> names) {
  std::size_t index = 0;
  auto read = read_variant_with([&](std::string_view name) -> Result<void> {
    while (index < names.size() && names[index] != name) ++index;
    if (index == names.size()) return std::unexpected(Error(unknown_variant_message(name, names)));
    return {};
  });
  if (!read) return std::unexpected(std::move(read.error()));
  return index;
}

Result<void> Reader::read_variant_with(FunctionRef<Result<void>(std::string_view name)> take_name) {
  const auto check = [&](const Event& name) -> Result<void> {
    if (auto taken = take_name(name.text); !taken) return std::unexpected(error_at(taken.error().render(), name.end));
    return {};
  };
  auto event = peek();
  if (!event) return std::unexpected(std::move(event.error()));
  if ((*event)->type == Type::string) return check(take());
  if ((*event)->type != Type::begin_object) {
    return std::unexpected(error_at("expected value", peeked(text_, token_start(text_, **event))));
  }
  take();
  auto name = peek();
  if (!name) return std::unexpected(std::move(name.error()));
  if ((*name)->type != Type::key) {
    return std::unexpected(error_at("expected value", peeked(text_, token_start(text_, **name))));
  }
  if (auto checked = check(take()); !checked) return checked;
  auto value = peek();
  if (!value) return std::unexpected(std::move(value.error()));
  if ((*value)->type != Type::null) return std::unexpected(invalid_type(**value, "unit"));
  // Only the closing brace may follow the null: whatever else comes, a separator or a fault of syntax,
  // is refused where it begins.
  const std::size_t after = skip_white_space(text_, take().end);
  if (after == text_.size()) return std::unexpected(error_at("EOF while parsing an object", after));
  if (text_[after] != '}') return std::unexpected(error_at("expected value", after));
  take();
  return {};
}

Result<bool> Reader::read_null() {
  auto event = peek();
  if (!event) return std::unexpected(std::move(event.error()));
  if ((*event)->type != Type::null) return false;
  take();
  return true;
}

Result<void> Reader::skip_value() {
  std::size_t depth = 0;
  do {
    auto event = peek();
    if (!event) return std::unexpected(std::move(event.error()));
    const Type type = take().type;
    if (type == Type::begin_object || type == Type::begin_array)
      ++depth;
    else if (type == Type::end_object || type == Type::end_array)
      --depth;
  } while (depth > 0);
  return {};
}

}  // namespace pindrel::json
