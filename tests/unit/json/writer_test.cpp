#include "json/value.hpp"
#include "json/writer.hpp"

#include <gtest/gtest.h>

namespace pindrel::json {
namespace {

TEST(JsonWriter, PrettyLayout) {
  PrettyWriter writer;
  writer.begin_object()
      .member("name", "x")
      .key("empty_list")
      .begin_array()
      .end_array()
      .key("empty_object")
      .begin_object()
      .end_object()
      .key("items")
      .begin_array()
      .number(1)
      .begin_object()
      .key("none")
      .null()
      .end_object()
      .end_array()
      .key("big")
      .number(u128{1} << 64)
      .end_object();
  EXPECT_EQ(writer.text(), R"({
  "name": "x",
  "empty_list": [],
  "empty_object": {},
  "items": [
    1,
    {
      "none": null
    }
  ],
  "big": 18446744073709551616
})");
}

TEST(JsonWriter, StringEscapes) {
  std::string out;
  append_quoted(out, std::string("q\" b\\ \b\f\n\r\t \x01\x1f\x7f é\0", 19));
  EXPECT_EQ(out, "\"q\\\" b\\\\ \\b\\f\\n\\r\\t \\u0001\\u001f\x7f é\\u0000\"");
  out.clear();
  append_quoted(out, "bad \xff byte");
  EXPECT_EQ(out, "\"bad \xEF\xBF\xBD byte\"");
}

TEST(JsonValue, KeysComeOutInByteOrder) {
  Value value = Value::object();
  value["b"] = {true, -2, 1.5};
  value["B"] = Value::array();
  value["a"] = {{"z", "\n"}, {"y", nullptr}};
  EXPECT_EQ(render_value(value), R"({
  "B": [],
  "a": {
    "y": null,
    "z": "\n"
  },
  "b": [
    true,
    -2,
    1.5
  ]
})");
}

}  // namespace
}  // namespace pindrel::json
