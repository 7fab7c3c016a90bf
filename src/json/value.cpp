#include "json/value.hpp"

#include "json/writer.hpp"

namespace pindrel::json {

namespace {

// A tree built by the program nests a few levels, so recursion is safe here.
void write_value(PrettyWriter& writer, const Value& value) {
  switch (value.type()) {
    case Value::value_t::object:
      writer.begin_object();
      for (const auto& [key, member] : value.items()) {
        writer.key(key);
        write_value(writer, member);
      }
      writer.end_object();
      break;
    case Value::value_t::array:
      writer.begin_array();
      for (const Value& element : value) write_value(writer, element);
      writer.end_array();
      break;
    case Value::value_t::string: writer.string(value.get_ref<const std::string&>()); break;
    default: writer.token(value.dump()); break;
  }
}

}  // namespace

std::string render_value(const Value& value) {
  PrettyWriter writer;
  write_value(writer, value);
  return std::move(writer).take();
}

}  // namespace pindrel::json
