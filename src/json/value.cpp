#include "json/value.hpp"

namespace pindrel::json {

std::string render_value(const Value& value) {
  return value.dump(2, ' ', /*ensure_ascii=*/false, Value::error_handler_t::replace);
}

}  // namespace pindrel::json
