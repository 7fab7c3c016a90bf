#include "impact/impact_report.hpp"

#include "json/reader.hpp"

namespace pindrel::impact {

namespace {

constexpr std::array<std::string_view, 10> run_all_reason_texts = {
    "non-Python files changed",
    "a changed file did not parse",
    "qlo is not available",
    "qlo failed during the walk",
    "the working tree could not be read",
    "the depth limit was reached",
    "the symbol limit was reached",
    "the time budget ran out",
    "a changed symbol is dispatched by an unresolvable decorator",
    "the full suite is faster than a selection",
};

}  // namespace

Result<RunAllReason> run_all_reason_from_name(std::string_view name) {
  for (std::size_t i = 0; i < run_all_reason_names.size(); ++i) {
    if (run_all_reason_names[i] == name) return static_cast<RunAllReason>(i);
  }
  return std::unexpected(Error(json::unknown_variant_message(name, run_all_reason_names)));
}

std::string_view run_all_reason_text(std::optional<RunAllReason> reason) {
  if (!reason) return "no reason given";
  return run_all_reason_texts[static_cast<std::size_t>(*reason)];
}

}  // namespace pindrel::impact
