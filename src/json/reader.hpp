#pragma once

// Typed reading of JSON text: a cursor over the document's tokens that every reader of the program
// shares. Each read takes one whole value and either returns it or fails with the wording and position
// that the program's messages use ("invalid type: string \"x\", expected u32 at line 1 column 9").
// Records come as an object or as an array of their values in declared order; enumerations as a string
// or as an object whose only key is the name, with null as its value.

#include "json/document.hpp"
#include "util/error.hpp"
#include "util/u128.hpp"

#include <array>
#include <cstddef>
#include <cstdint>
#include <memory>
#include <optional>
#include <span>
#include <string>
#include <string_view>
#include <type_traits>
#include <utility>
#include <vector>

namespace pindrel::json {

// Whether a record may do without a field.
enum class Presence {
  required,   // in both forms
  optional,   // the object form may leave it out; the array form still holds it (null for none)
  defaulted,  // either form may leave it out, so the array form may end before it
};

// What an object form does with a key that names no field.
enum class UnknownFields { refuse, skip };

class Reader;

// A reference to a callable, for the callbacks of one read: it neither owns nor copies it.
template <class Signature>
class FunctionRef;

template <class R, class... Args>
class FunctionRef<R(Args...)> {
 public:
  template <class F>
  requires(!std::is_same_v<std::remove_cvref_t<F>, FunctionRef> && std::is_invocable_r_v<R, F&, Args...>)
      FunctionRef(F&& f)  // implicit, so that a lambda passes where a FunctionRef is taken
      : callable_(const_cast<void*>(static_cast<const void*>(std::addressof(f)))),
        call_([](void* callable, Args... args) -> R {
          return (*static_cast<std::remove_reference_t<F>*>(callable))(std::forward<Args>(args)...);
        }) {}

  R operator()(Args... args) const { return call_(callable_, std::forward<Args>(args)...); }

 private:
  void* callable_;
  R (*call_)(void*, Args...);
};

// One field of a record `T`: its name, how its value is read into the record, and whether it may be
// left out. `field` builds one from the member it fills.
template <class T>
struct Field {
  std::string_view name;
  Result<void> (*read)(Reader&, T&);
  Presence presence = Presence::required;
};

// A record `T` as JSON gives it: its type's name (shown as "struct {}") and its fields in declared
// order, the order of the array form. `record` builds one from its fields.
template <class T, std::size_t N>
struct Record {
  std::string_view name;
  std::array<Field<T>, N> fields;
  std::array<std::string_view, N> names;  // the fields' names, for the messages
  std::array<Presence, N> presence;
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
  Result<void> read_elements(FunctionRef<Result<void>(Reader&)> read_element);

  // An array of values that `read_element` returns.
  template <class T, class ReadElement>
  Result<std::vector<T>> read_list(ReadElement&& read_element);

  // A record in either form; a field left out keeps the value a default `T` holds.
  template <class T, std::size_t N>
  Result<T> read_record(const Record<T, N>& record);

  // The value of a field of type `T` that has a reading of its own: a string, an unsigned integer,
  // an optional string, a list of strings.
  template <class T>
  Result<T> read_value();

  // An enumeration value; the result is the index of its name in `names`.
  Result<std::size_t> read_variant(std::span<const std::string_view> names);

  // An enumeration value of `Enum`, whose names are `names` in the order of its values; `Enum::count_`
  // ends the enumeration, so a table of another size does not compile.
  template <class Enum, std::size_t N>
  Result<Enum> read_enum(const std::array<std::string_view, N>& names);

  // An enumeration value whose name `take` checks and keeps; the message of its error is placed after
  // the name, so it should carry no position.
  Result<void> read_variant_with(FunctionRef<Result<void>(std::string_view name)> take);

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
  // The fields of a record, by name and presence; `read_field` reads the one at an index.
  struct Fields {
    std::string_view type;
    std::span<const std::string_view> names;
    std::span<const Presence> presence;
    UnknownFields unknown;
  };

  explicit Reader(std::string_view text) : text_(text), tokens_(text) {}

  Result<void> finish();
  Result<const Event*> peek();
  // Consumes the next token; the reference holds until the next peek.
  const Event& take();
  Error error_at(std::string_view message, std::size_t offset) const;
  Error invalid_type(const Event& found, std::string_view expected) const;
  Result<u128> read_unsigned(u128 max, std::string_view type);
  Result<void> read_fields(const Fields& fields, FunctionRef<Result<void>(std::size_t field)> read_field);
  Result<void> read_object_form(const Fields& fields, FunctionRef<Result<void>(std::size_t field)> read_field);
  Result<void> read_array_form(const Fields& fields, FunctionRef<Result<void>(std::size_t field)> read_field);

  std::string_view text_;
  Tokens tokens_;
  Event next_;  // the token peeked at, when `peeked_`
  bool peeked_ = false;
  std::size_t last_end_ = 0;  // just past the last token consumed
};

// A record's field that reads the member `Member` with `read` (a function from a reader to a
// value), or by the member's own type when none is given.
template <auto Member, auto read = nullptr>
constexpr auto field(std::string_view name, Presence presence = Presence::required);

// A record named `name` with `fields` in declared order.
template <class T, std::size_t N>
constexpr Record<T, N> record(std::string_view name, const Field<T> (&fields)[N],
                              UnknownFields unknown = UnknownFields::refuse) {
  Record<T, N> built{name, {}, {}, {}, unknown};
  for (std::size_t i = 0; i < N; ++i) {
    built.fields[i] = fields[i];
    built.names[i] = fields[i].name;
    built.presence[i] = fields[i].presence;
  }
  return built;
}

// Moves a read value into `target`, or passes its error on.
template <class T>
Result<void> store(T& target, Result<T>&& value) {
  if (!value) return std::unexpected(std::move(value.error()));
  target = std::move(*value);
  return {};
}

namespace detail {
template <class>
struct MemberOf;
template <class T, class M>
struct MemberOf<M T::*> {
  using Record = T;
  using Value = M;
};
}  // namespace detail

template <auto Member, auto read>
constexpr auto field(std::string_view name, Presence presence) {
  using Traits = detail::MemberOf<decltype(Member)>;
  using T = typename Traits::Record;
  using M = typename Traits::Value;
  return Field<T>{name,
                  [](Reader& reader, T& record) -> Result<void> {
                    if constexpr (std::is_null_pointer_v<decltype(read)>) {
                      return store(record.*Member, reader.read_value<M>());
                    } else {
                      return store(record.*Member, read(reader));
                    }
                  },
                  presence};
}

template <class T, std::size_t N>
Result<T> Reader::read_record(const Record<T, N>& record) {
  T value{};
  auto read = read_fields({record.name, record.names, record.presence, record.unknown},
                          [&](std::size_t field) { return record.fields[field].read(*this, value); });
  if (!read) return std::unexpected(std::move(read.error()));
  return value;
}

template <class T>
Result<T> Reader::read_value() {
  if constexpr (std::is_same_v<T, std::string>)
    return read_string();
  else if constexpr (std::is_same_v<T, std::uint8_t>)
    return read_u8();
  else if constexpr (std::is_same_v<T, std::uint32_t>)
    return read_u32();
  else if constexpr (std::is_same_v<T, std::uint64_t>)
    return read_u64();
  else if constexpr (std::is_same_v<T, u128>)
    return read_u128();
  else if constexpr (std::is_same_v<T, std::vector<std::string>>)
    return read_strings();
  else if constexpr (std::is_same_v<T, std::optional<std::string>>) {
    return read_optional<std::string>([](Reader& reader) { return reader.read_string(); });
  } else {
    static_assert(sizeof(T) == 0, "give the field a reading function");
  }
}

template <class Read>
auto Reader::read_document(std::string_view text, Read&& read) -> decltype(read(std::declval<Reader&>())) {
  Reader reader(text);
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

template <class Enum, std::size_t N>
Result<Enum> Reader::read_enum(const std::array<std::string_view, N>& names) {
  static_assert(N == static_cast<std::size_t>(Enum::count_), "one name per value");
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
