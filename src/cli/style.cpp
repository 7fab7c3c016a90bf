#include "cli/style.hpp"

namespace pindrel {

Color choose_color(const Environment& env, Terminal stream) {
  const auto non_empty = [](const std::optional<std::string>& value) { return value && !value->empty(); };
  if (non_empty(env.no_color)) return Color::off;
  if (non_empty(env.clicolor_force) && *env.clicolor_force != "0") return Color::on;
  if (env.clicolor == "0") return Color::off;
  if (stream == Terminal::no) return Color::off;
  const bool able = (env.term && *env.term != "dumb") || env.clicolor || env.ci;
  return able ? Color::on : Color::off;
}

namespace cli {

std::string Style::styled(std::string_view code, std::string_view text) const {
  if (color_ == Color::off || text.empty()) return std::string(text);
  return "\x1b[" + std::string(code) + "m" + std::string(text) + "\x1b[0m";
}

std::string Style::heading(std::string_view text) const { return styled("1;4", text); }

std::string Style::literal(std::string_view text) const { return styled("1", text); }

std::string Style::error(std::string_view text) const { return styled("1;31", text); }

std::string Style::invalid(std::string_view text) const { return styled("33", text); }

}  // namespace cli
}  // namespace pindrel
