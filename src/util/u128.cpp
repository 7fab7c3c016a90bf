#include "util/u128.hpp"

#include <algorithm>

namespace pindrel {

std::string to_decimal(u128 value) {
  std::string digits;
  do {
    digits.push_back(static_cast<char>('0' + static_cast<int>(value % 10)));
    value /= 10;
  } while (value != 0);
  std::reverse(digits.begin(), digits.end());
  return digits;
}

}  // namespace pindrel
