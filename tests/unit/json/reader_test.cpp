#include "json/reader.hpp"

#include <gtest/gtest.h>

#include <array>
#include <string>

namespace pindrel::json {
namespace {

// The message a reading of `text` fails with, or "ok".
template <class Read>
std::string outcome(std::string_view text, Read&& read) {
  auto result = Reader::read_document(text, read);
  return result ? "ok" : result.error().render();
}

std::string syntax_outcome(std::string_view text) {
  return outcome(text, [](Reader& reader) { return reader.skip_value(); });
}

struct Point {
  std::uint32_t x = 0;
  std::optional<std::string> label;
  std::vector<std::string> tags;
};

constexpr auto point_record = record<Point>("Point", {
                                                         field<&Point::x>("x"),
                                                         field<&Point::label>("label", Presence::optional),
                                                         field<&Point::tags>("tags", Presence::defaulted),
                                                     });

Result<Point> read_point(Reader& reader, UnknownFields unknown) {
  auto point = point_record;
  point.unknown = unknown;
  return reader.read_record(point);
}

std::string strict_point(std::string_view text) {
  return outcome(text, [](Reader& reader) { return read_point(reader, UnknownFields::refuse); });
}

TEST(JsonReader, SyntaxMessagesAndPositions) {
  struct Case {
    std::string text;
    std::string_view message;
  };
  const Case cases[] = {
      {"", "EOF while parsing a value at line 1 column 0"},
      {"  \n ", "EOF while parsing a value at line 2 column 1"},
      {"{} x", "trailing characters at line 1 column 4"},
      {"[] []", "trailing characters at line 1 column 4"},
      {"1x", "trailing characters at line 1 column 2"},
      {"[1,]", "trailing comma at line 1 column 4"},
      {R"({"a":1,})", "trailing comma at line 1 column 8"},
      {"[1 2]", "expected `,` or `]` at line 1 column 4"},
      {R"({"a":1 "b":2})", "expected `,` or `}` at line 1 column 8"},
      {R"({"a" 1})", "expected `:` at line 1 column 6"},
      {"{1:2}", "key must be a string at line 1 column 2"},
      {R"({"a":1,2:3})", "key must be a string at line 1 column 8"},
      {"[", "EOF while parsing a list at line 1 column 1"},
      {"[1", "EOF while parsing a list at line 1 column 2"},
      {"{", "EOF while parsing an object at line 1 column 1"},
      {R"({"a":)", "EOF while parsing a value at line 1 column 5"},
      {R"(["ab)", "EOF while parsing a string at line 1 column 4"},
      {std::string("[\"a\x01\"]"),
       "control character (\\u0000-\\u001F) found while parsing a string at line 1 column 4"},
      {R"(["\x"])", "invalid escape at line 1 column 4"},
      {R"(["\u12G4"])", "invalid escape at line 1 column 8"},
      {R"(["\udc00"])", "lone leading surrogate in hex escape at line 1 column 8"},
      {R"(["\ud800x"])", "unexpected end of hex escape at line 1 column 9"},
      {"[tru]", "expected ident at line 1 column 5"},
      {"nul", "EOF while parsing a value at line 1 column 3"},
      {"[01]", "invalid number at line 1 column 3"},
      {"-", "invalid number at line 1 column 1"},
      {"[-x]", "invalid number at line 1 column 3"},
      {"[1.]", "invalid number at line 1 column 4"},
      {"1e", "EOF while parsing a value at line 1 column 2"},
      {"1e999", "number out of range at line 1 column 5"},
      {"x", "expected value at line 1 column 1"},
      {"[1, }", "expected value at line 1 column 5"},
      {"/* note */ 1", "expected value at line 1 column 1"},
      {"\xEF\xBB\xBF{}", "expected value at line 1 column 1"},
      {"{\n  \"a\": 1,\n  \"b\" 2\n}", "expected `:` at line 3 column 7"},
      {"[\"é\" x]", "expected `,` or `]` at line 1 column 7"},  // columns count bytes
      {std::string(128, '[') + std::string(128, ']'), "ok"},
      {std::string(129, '[') + std::string(129, ']'), "recursion limit exceeded at line 1 column 129"},
      {" {\"a\": [1, 2.5, -3, true, null, \"x\", {}]}\n\n", "ok"},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.text);
    EXPECT_EQ(syntax_outcome(c.text), c.message);
  }
}

TEST(JsonReader, RecordMessages) {
  struct Case {
    std::string_view text;
    std::string_view message;
  };
  const Case cases[] = {
      {"{}", "missing field `x` at line 1 column 2"},
      {R"({"label": "a"})", "missing field `x` at line 1 column 14"},
      {R"({"x": 1, "x": 2})", "duplicate field `x` at line 1 column 12"},
      {R"({"z" : 1})", "unknown field `z`, expected one of `x`, `label`, `tags` at line 1 column 5"},
      {R"({"x": -1})", "invalid value: integer `-1`, expected u32 at line 1 column 8"},
      {R"({"x": 4294967296})", "invalid value: integer `4294967296`, expected u32 at line 1 column 16"},
      {R"({"x": 99999999999999999999999})",
       "invalid value: integer `99999999999999999999999`, expected u32 at line 1 column 29"},
      {R"({"x": 3.0})", "invalid type: floating point `3.0`, expected u32 at line 1 column 9"},
      {R"({"x": 1e15})", "invalid type: floating point `1000000000000000.0`, expected u32 at line 1 column 10"},
      {R"({"x": 1e16})", "invalid type: floating point `1e16`, expected u32 at line 1 column 10"},
      {R"({"x": 1.5e-7})", "invalid type: floating point `1.5e-7`, expected u32 at line 1 column 12"},
      {R"({"x": 0.00001})", "invalid type: floating point `0.00001`, expected u32 at line 1 column 13"},
      {R"({"x": -0})", "invalid type: floating point `-0.0`, expected u32 at line 1 column 8"},
      {R"({"x": "a\"b\n"})", R"(invalid type: string "a\"b\n", expected u32 at line 1 column 14)"},
      {R"({"x": true})", "invalid type: boolean `true`, expected u32 at line 1 column 10"},
      {R"({"x": null})", "invalid type: null, expected u32 at line 1 column 10"},
      {R"({"x": [1]})", "invalid type: sequence, expected u32 at line 1 column 6"},
      {R"({"x": {}})", "invalid type: map, expected u32 at line 1 column 6"},
      {R"({"x": 1, "label": 5})", "invalid type: integer `5`, expected a string at line 1 column 19"},
      // Beyond the 64-bit ranges an integer is read as a real number.
      {R"({"x": 1, "label": -9223372036854775808})",
       "invalid type: integer `-9223372036854775808`, expected a string at line 1 column 38"},
      {R"({"x": 1, "label": 18446744073709551616})",
       "invalid type: floating point `1.8446744073709552e19`, expected a string at line 1 column 38"},
      {R"({"x": 1, "tags": "a"})", "invalid type: string \"a\", expected a sequence at line 1 column 20"},
      {R"({"x": 1, "tags": ["a", 2]})", "invalid type: integer `2`, expected a string at line 1 column 24"},
      {R"("p")", "invalid type: string \"p\", expected struct Point at line 1 column 3"},
      {"[]", "invalid length 0, expected struct Point with 3 elements at line 1 column 2"},
      {"[1]", "invalid length 1, expected struct Point with 3 elements at line 1 column 3"},
      {R"([1, "a", [], 4])", "trailing characters at line 1 column 14"},
      {R"([1, "a", [],])", "trailing comma at line 1 column 13"},
      {R"([1, "a", [], x])", "trailing characters at line 1 column 14"},
      {R"([1, "a", [] x])", "trailing characters at line 1 column 13"},
      {R"([1, "a", [],)", "trailing characters at line 1 column 12"},
      {R"([1, "a", [] )", "EOF while parsing a list at line 1 column 12"},
      // The first fault in the text wins, whether the record's or the syntax's.
      {R"({"z": 1, ])", "unknown field `z`, expected one of `x`, `label`, `tags` at line 1 column 4"},
      {R"({"x": 1, ])", "key must be a string at line 1 column 10"},
      {R"({"x": 1} {)", "trailing characters at line 1 column 10"},
      {R"({"x": 1, "label": null})", "ok"},
      {R"([1, null])", "ok"},
      {R"([7, "a", ["t"]])", "ok"},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.text);
    EXPECT_EQ(strict_point(c.text), c.message);
  }
}

TEST(JsonReader, RecordFormsGiveTheSameValues) {
  for (std::string_view text : {R"({"tags": ["t", "u"], "label": "a", "x": 7})", R"([7, "a", ["t", "u"]])"}) {
    SCOPED_TRACE(text);
    auto point = Reader::read_document(text, [](Reader& r) { return read_point(r, UnknownFields::refuse); });
    ASSERT_TRUE(point) << point.error().render();
    EXPECT_EQ(point->x, 7u);
    EXPECT_EQ(point->label, "a");
    EXPECT_EQ(point->tags, (std::vector<std::string>{"t", "u"}));
  }
}

TEST(JsonReader, LenientRecordSkipsUnknownKeysButNotRepeatsOrSyntax) {
  const auto lenient = [](std::string_view text) {
    return outcome(text, [](Reader& reader) { return read_point(reader, UnknownFields::skip); });
  };
  auto point = Reader::read_document(R"({"z": [1, {"q": [null]}], "x": 3, "z": 4})",
                                     [](Reader& r) { return read_point(r, UnknownFields::skip); });
  ASSERT_TRUE(point) << point.error().render();
  EXPECT_EQ(point->x, 3u);
  EXPECT_EQ(lenient(R"({"x": 1, "x": 2})"), "duplicate field `x` at line 1 column 12");
  EXPECT_EQ(lenient(R"({"z": [1,, "x": 3})"), "expected value at line 1 column 10");
  // The object is the first of the 129 levels.
  EXPECT_EQ(lenient("{\"z\": " + std::string(128, '[') + std::string(128, ']') + ", \"x\": 1}"),
            "recursion limit exceeded at line 1 column 134");
}

TEST(JsonReader, Enumerations) {
  constexpr std::array<std::string_view, 2> colours = {"red", "green"};
  const auto colour = [&](std::string_view text) {
    auto index = Reader::read_document(text, [&](Reader& r) { return r.read_variant(colours); });
    return index ? std::to_string(*index) : index.error().render();
  };
  EXPECT_EQ(colour(R"("green")"), "1");
  EXPECT_EQ(colour(R"({"green": null})"), "1");
  EXPECT_EQ(colour(R"( { "red" : null } )"), "0");
  EXPECT_EQ(colour(R"("Red")"), "unknown variant `Red`, expected `red` or `green` at line 1 column 5");
  EXPECT_EQ(colour(R"({"blue": null})"), "unknown variant `blue`, expected `red` or `green` at line 1 column 7");
  EXPECT_EQ(colour(R"({"red": 1})"), "invalid type: integer `1`, expected unit at line 1 column 9");
  EXPECT_EQ(colour(R"({"red": null, "green": null})"), "expected value at line 1 column 12");
  EXPECT_EQ(colour(R"({"red": null,})"), "expected value at line 1 column 12");
  EXPECT_EQ(colour(R"({"red": null x})"), "expected value at line 1 column 13");
  EXPECT_EQ(colour(R"({"red": null )"), "EOF while parsing an object at line 1 column 13");
  EXPECT_EQ(colour("{}"), "expected value at line 1 column 2");
  EXPECT_EQ(colour("5"), "expected value at line 1 column 1");
  EXPECT_EQ(colour("null"), "expected value at line 1 column 1");
}

TEST(JsonReader, UnsignedWidths) {
  const auto u8 = [](std::string_view text) {
    auto value = Reader::read_document(text, [](Reader& r) { return r.read_u8(); });
    return value ? std::to_string(*value) : value.error().render();
  };
  EXPECT_EQ(u8("255"), "255");
  EXPECT_EQ(u8("256"), "invalid value: integer `256`, expected u8 at line 1 column 3");
  EXPECT_EQ(u8("5.5"), "invalid type: floating point `5.5`, expected u8 at line 1 column 3");

  const auto u128 = [](std::string_view text) {
    auto value = Reader::read_document(text, [](Reader& r) { return r.read_u128(); });
    return value ? to_decimal(*value) : value.error().render();
  };
  EXPECT_EQ(u128("340282366920938463463374607431768211455"), "340282366920938463463374607431768211455");
  EXPECT_EQ(u128("340282366920938463463374607431768211456"),
            "invalid value: integer `340282366920938463463374607431768211456`, expected u128 at line 1 column 39");
  EXPECT_EQ(u128("-1"), "invalid value: integer `-1`, expected u128 at line 1 column 2");
  EXPECT_EQ(u128("1e3"), "invalid type: floating point `1000.0`, expected u128 at line 1 column 3");

  const auto u64 = [](std::string_view text) {
    auto value = Reader::read_document(text, [](Reader& r) { return r.read_u64(); });
    return value ? std::to_string(*value) : value.error().render();
  };
  EXPECT_EQ(u64("18446744073709551615"), "18446744073709551615");
  EXPECT_EQ(u64("18446744073709551616"),
            "invalid value: integer `18446744073709551616`, expected u64 at line 1 column 20");
}

TEST(JsonReader, StringsAreDecoded) {
  auto words = Reader::read_document(R"(["a\"b", "\u00e9\ud83d\ude00", "tab\there", "\u0000"])",
                                     [](Reader& r) { return r.read_strings(); });
  ASSERT_TRUE(words) << words.error().render();
  EXPECT_EQ(*words, (std::vector<std::string>{"a\"b", "é😀", "tab\there", std::string(1, '\0')}));
}

TEST(JsonReader, ExpectedNames) {
  constexpr std::array<std::string_view, 3> names = {"a", "b", "c"};
  EXPECT_EQ(expected_names(std::span(names).first(1)), "`a`");
  EXPECT_EQ(expected_names(std::span(names).first(2)), "`a` or `b`");
  EXPECT_EQ(expected_names(names), "one of `a`, `b`, `c`");
}

}  // namespace
}  // namespace pindrel::json
