// `guide` picks its topic from one file, ./pyproject.toml, and never complains about it:
// a guide that fails on a broken project file would fail exactly where it is needed,
// so every problem with the file reads as "not configured" and leads to `setup`.
#include "guide/guide.hpp"

#include "guide/guide_texts.hpp"
#include "util/file_read.hpp"
#include "util/utf8.hpp"

#include <toml++/toml.h>

#include <system_error>

namespace pindrel {
namespace {

constexpr std::string_view program_name = "pindrel";

constexpr GuideChoice not_configured{GuideTopic::setup, GuideChosen::not_configured};

std::string_view topic_name(GuideTopic topic) {
  switch (topic) {
    case GuideTopic::setup: return "setup";
    case GuideTopic::triage: return "triage";
    case GuideTopic::tune: return "tune";
  }
  return "setup";
}

// Keys are never searched: a tolvane table with a key named "pindrel" still runs
// nothing of ours unless some value says so.
bool toml_value_mentions_program(const toml::node& value) {
  if (const auto* text = value.as_string()) return text->get().find(program_name) != std::string::npos;
  if (const auto* array = value.as_array()) {
    for (const auto& element : *array) {
      if (toml_value_mentions_program(element)) return true;
    }
    return false;
  }
  if (const auto* table = value.as_table()) {
    for (const auto& [key, member] : *table) {
      if (toml_value_mentions_program(member)) return true;
    }
    return false;
  }
  return false;
}

}  // namespace

GuideChoice choose_guide_topic_from_pyproject(std::string_view bytes) {
  if (!is_valid_utf8(bytes)) return not_configured;
  toml::table document;
  try {
    document = toml::parse(bytes);
  } catch (const toml::parse_error&) {
    return not_configured;
  }
  const auto* tool = document.get_as<toml::table>("tool");
  if (tool == nullptr) return not_configured;
  const auto* tolvane = tool->get("tolvane");
  if (tolvane == nullptr || !toml_value_mentions_program(*tolvane)) return not_configured;
  return {GuideTopic::triage, GuideChosen::configured};
}

GuideChoice choose_guide_topic_in(const std::filesystem::path& directory) {
  auto bytes = read_file_if_present(directory / "pyproject.toml");
  if (!bytes || !*bytes) return not_configured;
  return choose_guide_topic_from_pyproject(**bytes);
}

GuideChoice choose_guide_topic(std::optional<GuideTopic> explicit_topic) {
  if (explicit_topic) return {*explicit_topic, GuideChosen::explicitly};
  std::error_code ec;
  auto current = std::filesystem::current_path(ec);
  if (ec) return not_configured;
  return choose_guide_topic_in(current);
}

std::string render_guide(const GuideChoice& choice) {
  std::string out = "# pindrel guide: ";
  switch (choice.chosen) {
    case GuideChosen::explicitly: break;
    case GuideChosen::configured: out += "configured via pyproject.toml [tool.tolvane] -> "; break;
    case GuideChosen::not_configured: out += "not configured here -> "; break;
  }
  out += topic_name(choice.topic);
  out += "\n\n";
  out += guide_topic_text(choice.topic);
  return out;
}

}  // namespace pindrel
