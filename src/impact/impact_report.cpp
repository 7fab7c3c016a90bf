#include "impact/impact_report.hpp"

#include "json/reader.hpp"

namespace pindrel::impact {

Result<RunAllReason> run_all_reason_from_name(std::string_view name) {
  for (std::size_t i = 0; i < run_all_reason_names.size(); ++i) {
    if (run_all_reason_names[i] == name) return static_cast<RunAllReason>(i);
  }
  return std::unexpected(Error(json::unknown_variant_message(name, run_all_reason_names)));
}

std::string_view run_all_reason_text(std::optional<RunAllReason> reason) {
  if (!reason) return "no reason given";
  return run_all_reason_words[static_cast<std::size_t>(*reason)].text;
}

}  // namespace pindrel::impact
