#pragma once

#include "cli/args.hpp"

#include <filesystem>
#include <optional>
#include <string>
#include <string_view>

namespace pindrel {

// How the topic came about: named on the command line, or picked by looking for a
// tolvane step that runs pindrel in ./pyproject.toml.
enum class GuideChosen { explicitly, configured, not_configured };

struct GuideChoice {
  GuideTopic topic;
  GuideChosen chosen;
  friend bool operator==(const GuideChoice&, const GuideChoice&) = default;
};

// The named topic, or the one that ./pyproject.toml of the current directory calls
// for. Never fails: any problem with that file means `setup`, not configured.
GuideChoice choose_guide_topic(std::optional<GuideTopic> explicit_topic);

// The choice made from the "pyproject.toml" in `directory` (no parent is searched).
GuideChoice choose_guide_topic_in(const std::filesystem::path& directory);

// The choice made from the bytes of a pyproject.toml: `triage`, configured, when
// `tool.tolvane` holds a string that contains "pindrel"; otherwise `setup`.
GuideChoice choose_guide_topic_from_pyproject(std::string_view bytes);

// The whole output of `guide`: the header, an empty line, then the topic text.
std::string render_guide(const GuideChoice& choice);

}  // namespace pindrel
