#pragma once

#include <string_view>

namespace pindrel::impact {

// Whether a method of this name is one a framework calls on its own (protocol callbacks,
// unittest and pytest hooks, handler methods, test-like prefixes), so that finding no
// caller for it says nothing.
bool is_framework_called_method(std::string_view name);

}  // namespace pindrel::impact
