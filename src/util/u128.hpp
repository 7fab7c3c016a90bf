#pragma once

#include <string>

namespace pindrel {

// libstdc++ treats unsigned __int128 as an integer type only in the GNU dialect.
__extension__ using u128 = unsigned __int128;

// `value` in plain decimal digits.
std::string to_decimal(u128 value);

}  // namespace pindrel
