#include "cli/style.hpp"

#include <gtest/gtest.h>

#include <optional>
#include <string>

namespace pindrel {
namespace {

TEST(ChooseColor, FollowsTheVariablesInTheirOrder) {
  struct Case {
    const char* name;
    std::optional<std::string> no_color, clicolor_force, clicolor, term, ci;
    Terminal stream;
    Color color;
  };
  const auto unset = std::nullopt;
  const Case cases[] = {
      {"terminal", unset, unset, unset, "xterm", unset, Terminal::yes, Color::on},
      {"file", unset, unset, unset, "xterm", unset, Terminal::no, Color::off},
      {"dumb terminal", unset, unset, unset, "dumb", unset, Terminal::yes, Color::off},
      {"no TERM", unset, unset, unset, unset, unset, Terminal::yes, Color::off},
      {"CLICOLOR on a dumb terminal", unset, unset, "1", "dumb", unset, Terminal::yes, Color::on},
      {"CI without TERM", unset, unset, unset, unset, "", Terminal::yes, Color::on},
      {"CI off a terminal", unset, unset, unset, "xterm", "true", Terminal::no, Color::off},
      {"CLICOLOR=0", unset, unset, "0", "xterm", "true", Terminal::yes, Color::off},
      {"NO_COLOR", "1", unset, unset, "xterm", unset, Terminal::yes, Color::off},
      {"empty NO_COLOR", "", unset, unset, "xterm", unset, Terminal::yes, Color::on},
      {"forced into a file", unset, "1", unset, unset, unset, Terminal::no, Color::on},
      {"forced over CLICOLOR=0", unset, "yes", "0", "dumb", unset, Terminal::yes, Color::on},
      {"NO_COLOR over force", "1", "1", unset, "xterm", unset, Terminal::yes, Color::off},
      {"force of 0", unset, "0", unset, unset, unset, Terminal::no, Color::off},
      {"empty force", unset, "", unset, "dumb", unset, Terminal::yes, Color::off},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    Environment env;
    env.no_color = c.no_color;
    env.clicolor_force = c.clicolor_force;
    env.clicolor = c.clicolor;
    env.term = c.term;
    env.ci = c.ci;
    EXPECT_EQ(choose_color(env, c.stream), c.color);
  }
}

}  // namespace
}  // namespace pindrel
