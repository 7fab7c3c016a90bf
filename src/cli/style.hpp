#pragma once

// Colour of help pages and usage errors, decided per stream.
#include "project/environment.hpp"

#include <string>
#include <string_view>

namespace pindrel {

enum class Color { off, on };
enum class Terminal { no, yes };

// The common convention of command-line tools: NO_COLOR turns colour off, CLICOLOR_FORCE
// turns it on anywhere, CLICOLOR=0 turns it off; otherwise a terminal gets colour when
// TERM is not "dumb", CLICOLOR asks for it, or CI is set.
Color choose_color(const Environment& env, Terminal stream);

// The colour of each stream that the parser may write to.
struct CliColors {
  Color out = Color::off;
  Color err = Color::off;
};

namespace cli {

// Wraps texts in ANSI styles, or hands them back unchanged when colour is off.
class Style {
 public:
  explicit Style(Color color) : color_(color) {}

  std::string heading(std::string_view text) const;  // section titles and "Usage:"
  std::string literal(std::string_view text) const;  // option, command and program names
  std::string error(std::string_view text) const;    // the "error:" lead
  std::string invalid(std::string_view text) const;  // the word a usage error is about

 private:
  std::string styled(std::string_view code, std::string_view text) const;

  Color color_;
};

}  // namespace cli
}  // namespace pindrel
