#pragma once

#include "cli/args.hpp"

#include <string_view>

namespace pindrel {

// The Markdown text of a topic, ending with its "next: run ..." line and one newline.
std::string_view guide_topic_text(GuideTopic topic);

}  // namespace pindrel
