#pragma once

// Typed reading of JSON text: a cursor over the document's tokens that every reader of the program
// shares. Each read takes one whole value and either returns it or fails with the wording and position
// that the program's messages use ("invalid type: string \"x\", expected u32 at line 1 column 9").
// Records come as an object or as an array of their values in declared order; enumerations as a string
// or as an object whose only key is the name, with null as its value.

#include "util/error.hpp"
#include "json/document.hpp"
#include "util/u128.hpp"

#include <cstddef>
#include <cstdint>
#include <functional>
#include <optional>
#include <span>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

namespace pindrel::json {

// Whether a record may do without a field.
enum class Presence {
  required,   // in both forms
  optional,   // the object form may leave it out; the array form still holds it (null for none)
  defaulted,  // either form may leave it out, so the array form may end before it
};

struct Field {
  std::string_view name;
  Presence presence = Presence::required;
};

// What an object form does with a key that names no field.
enum class UnknownFields { refuse, skip };

struct Record {
  std::string_view name;          // the type's name, shown as "struct {}"
  std::span<const Field> fields;  // in declared order, the order of the array form
  UnknownFields unknown = UnknownFields::refuse;
};

// The names as a message lists them: "`a`", "`a` or `b`", "one of `a`, `b`, `c`".
std::string expected_names(std::span<const std::string_view> names);

// "unknown variant `{}`, expected {}" for `name` among `names`.
std::string unknown_variant_message(std::string_view name, std::span<const std::string_view> names);

class Reader {
 public:
  // Reads `text` through `read`, which takes exactly one value with this reader; after that value only
  // white space may follow.
  template <class Read>
  static auto read_document(std::string_view text, Read&& read) -> decltype(read(std::declval<Reader&>()));

  Result<std::string> read_string();
  Result<std::uint8_t> read_u8();
  Result<std::uint32_t> read_u32();
  Result<std::uint64_t> read_u64();
  Result<u128> read_u128();

  // An array of strings.
  Result<std::vector<std::string>> read_strings();

  // An array; `read_element` takes each element in turn with this reader.
  Result<void> read_elements(const std::function<Result<void>(Reader&)>& read_element);

  // An array of values that `read_element` returns.
  template <class T, class ReadElement>
  Result<std::vector<T>> read_list(ReadElement&& read_element);

  // A record in either form. `read_field` gets each field present, by its index in `record.fields`,
  // and takes its value with this reader; a field left out keeps whatever the caller set before.
  Result<void> read_record(const Record& record,
                           const std::function<Result<void>(std::size_t field)>& read_field);

  // An enumeration value; the result is the index of its name in `names`.
  Result<std::size_t> read_variant(std::span<const std::string_view> names);

  // An enumeration value of `Enum`, whose names are `names` in the order of its values.
  template <class Enum>
  Result<Enum> read_enum(std::span<const std::string_view> names);

  // An enumeration value whose name `take` checks and keeps; the message of its error is placed after
  // the name, so it should carry no position.
  Result<void> read_variant_with(const std::function<Result<void>(std::string_view name)>& take);

  // Null as none; any other value through `read`.
  template <class T, class Read>
  Result<std::optional<T>> read_optional(Read&& read);

  // Consumes a null when one comes next; tells whether it did.
  Result<bool> read_null();

  // Passes over the next value, whatever it holds.
  Result<void> skip_value();

  // An error with `message` placed where reading has got to.
  Error error_here(std::string_view message) const;

 private:
  Reader(std::string_view text, std::vector<Event> events) : text_(text), events_(std::move(events)) {}

  Result<void> finish();
  Result<const Event*> peek() const;
  const Event& take() { return events_[next_++]; }
  Error error_at(std::string_view message, std::size_t offset) const;
  Error invalid_type(const Event& found, std::string_view expected) const;
  Result<u128> read_unsigned(u128 max, std::string_view type);
  Result<void> read_object_form(const Record& record,
                                const std::function<Result<void>(std::size_t field)>& read_field);
  Result<void> read_array_form(const Record& record,
                               const std::function<Result<void>(std::size_t field)>& read_field);

  std::string_view text_;
  std::vector<Event> events_;
  std::size_t next_ = 0;
};

// Moves a read value into `target`, or passes its error on.
template <class T>
Result<void> store(T& target, Result<T>&& value) {
  if (!value) return std::unexpected(std::move(value.error()));
  target = std::move(*value);
  return {};
}

template <class Read>
auto Reader::read_document(std::string_view text, Read&& read) -> decltype(read(std::declval<Reader&>())) {
  Reader reader(text, scan_events(text));
  auto value = read(reader);
  if (!value) return value;
  if (auto end = reader.finish(); !end) return std::unexpected(std::move(end.error()));
  return value;
}

template <class T, class ReadElement>
Result<std::vector<T>> Reader::read_list(ReadElement&& read_element) {
  std::vector<T> list;
  auto read = read_elements([&](Reader& reader) -> Result<void> {
    Result<T> element = read_element(reader);
    if (!element) return std::unexpected(std::move(element.error()));
    list.push_back(std::move(*element));
    return {};
  });
  if (!read) return std::unexpected(std::move(read.error()));
  return list;
}

template <class Enum>
Result<Enum> Reader::read_enum(std::span<const std::string_view> names) {
  auto index = read_variant(names);
  if (!index) return std::unexpected(std::move(index.error()));
  return static_cast<Enum>(*index);
}

template <class T, class Read>
Result<std::optional<T>> Reader::read_optional(Read&& read) {
  auto null = read_null();
  if (!null) return std::unexpected(std::move(null.error()));
  if (*null) return std::optional<T>();
  Result<T> value = read(*this);
  if (!value) return std::unexpected(std::move(value.error()));
  return std::optional<T>(std::move(*value));
}

}  // namespace pindrel::json
