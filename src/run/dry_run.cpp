#include "run/dry_run.hpp"

#include "changed/changed_symbols_json.hpp"
#include "impact/impact_report.hpp"
#include "json/value.hpp"
#include "json/writer.hpp"
#include "util/process.hpp"

#include <algorithm>
#include <set>
#include <string_view>

namespace pindrel::run {
namespace {

bool is_whole_file(const SelectedNodeId& id) { return id.node_id.find("::") == std::string::npos; }

json::Value strings_value(const std::vector<std::string>& list) {
  json::Value array = json::Value::array();
  for (const auto& text : list) array.push_back(text);
  return array;
}

json::Value changed_symbols_value(const changed::ChangedSymbols& report) {
  json::Value value = json::Value::object();
  value["base"] = report.base;
  value["merge_base"] = report.merge_base;
  changed::symbol_changes_to_json_value(value, "changed_symbols", report.changed_symbols);
  changed::symbol_changes_to_json_value(value, "ignored_symbols", report.ignored_symbols);
  json::Value modules = json::Value::array();
  for (const auto& change : report.module_level_changes) {
    modules.push_back({{"module", change.module}, {"file", change.file}});
  }
  value["module_level_changes"] = std::move(modules);
  value["non_python_changes"] = strings_value(report.non_python_changes);
  value["ignored_paths"] = strings_value(report.ignored_paths);
  value["test_files_changed"] = strings_value(report.test_files_changed);
  value["errors"] = strings_value(report.errors);
  return value;
}

json::Value fallback_value(const FallbackPlan& fallback) {
  json::Value payload = json::Value::object();
  payload["pindrel_fallback_payload_version"] = fallback.payload.pindrel_fallback_payload_version;
  payload["reason"] = fallback.payload.reason;
  payload["report"] = fallback.payload.report ? changed_symbols_value(*fallback.payload.report) : json::Value();
  json::Value value = json::Value::object();
  value["argv"] = strings_value(fallback.argv);
  value["payload"] = std::move(payload);
  value["reason"] = fallback.reason;
  value["source"] = fallback_source_word(fallback.source);
  return value;
}

}  // namespace

std::string decision_summary_line(const Selection& selection, std::uint64_t elapsed_ms) {
  switch (selection.decision) {
    case Decision::selected: {
      std::set<std::string_view> origins;
      for (const auto& id : selection.node_ids) {
        if (id.origin()) origins.insert(*id.origin());
      }
      const std::string folded =
          selection.fit == ArgvFit::whole_files ? " — folded into whole files to fit the argument limit" : "";
      return std::to_string(selection.node_ids.size()) + " node id(s) from " + std::to_string(origins.size()) +
             " origin(s) in " + std::to_string(elapsed_ms) + " ms" + folded + " — details: pindrel impacted-tests";
    }
    case Decision::run_all:
      if (selection.fit == ArgvFit::whole_suite) {
        return "full suite — the selection does not fit the argument limit, even as whole files";
      }
      return "full suite — " + std::string(impact::run_all_reason_text(selection.reason));
    case Decision::nothing: return "no tests impacted — nothing to run";
  }
  return {};
}

std::string argv_to_json_text(const std::vector<std::string>& words) {
  std::string out = "[";
  for (const auto& word : words) {
    if (out.size() > 1) out += ',';
    json::append_quoted(out, word);
  }
  return out + "]";
}

std::string dry_run_plan_json(const DryRunPlan& plan) {
  const Selection& selection = plan.selection;
  json::Value node_ids = json::Value::array();
  for (const auto& id : selection.node_ids) {
    json::Value entry = json::Value::object();
    entry["node_id"] = id.node_id;
    entry["origin"] = id.origin() ? json::Value(*id.origin()) : json::Value();
    entry["via"] = strings_value(id.via());
    node_ids.push_back(std::move(entry));
  }
  json::Value expanded = json::Value::array();
  for (const auto& expansion : selection.expanded) {
    json::Value entry = json::Value::object();
    entry["from"] = expansion.from;
    entry["into"] = strings_value(expansion.into);
    entry["kind"] = expansion_kind_name(expansion.kind);
    expanded.push_back(std::move(entry));
  }
  json::Value dropped = json::Value::array();
  for (const auto& drop : selection.dropped) {
    dropped.push_back({{"entry", drop.entry}, {"why", drop_reason_name(drop.why)}});
  }
  json::Value git_env = json::Value::object();
  git_env["policy"] = git_env_policy_name(plan.policy);
  git_env["removed"] = strings_value(plan.removed);

  json::Value value = json::Value::object();
  value["argv"] = strings_value(argv_display_strings(plan.argv));
  if (plan.start_dir) value["cwd"] = *plan.start_dir;
  value["decision"] = decision_name(selection.decision);
  value["dropped"] = std::move(dropped);
  value["expanded"] = std::move(expanded);
  value["fallback"] = plan.fallback ? fallback_value(*plan.fallback) : json::Value();
  value["git_env"] = std::move(git_env);
  value["node_ids"] = std::move(node_ids);
  value["reason"] = selection.reason ? json::Value(impact::run_all_reason_name(*selection.reason)) : json::Value();
  value["verdict"] = impact::verdict_name(selection.verdict);
  return json::render_value(value);
}

std::string write_dry_run_text(const DryRunPlan& plan) {
  const Selection& selection = plan.selection;
  std::string out = "decision: " + std::string(decision_name(selection.decision)) + "\n";
  out += "pindrel: " + decision_summary_line(selection, plan.elapsed_ms) + "\n";

  if (selection.decision != Decision::nothing) {
    if (plan.policy == GitEnvPolicy::inherit) {
      out += "git env: inherit\n";
    } else if (plan.removed.empty()) {
      out += "git env: isolate — no repository-local git variable is set\n";
    } else {
      out += "git env: isolate — removes ";
      for (std::size_t i = 0; i < plan.removed.size(); ++i) out += (i ? ", " : "") + plan.removed[i];
      out += "\n";
    }
  }

  if (!selection.node_ids.empty()) out += "\n";
  for (const auto& id : selection.node_ids) {
    out += id.node_id + "\n";
    std::vector<std::string> chain = id.via();
    if (id.origin()) chain.push_back(*id.origin());
    for (std::size_t i = 0; i < chain.size(); ++i) out += (i ? " ← " : "  ← ") + chain[i];
    if (!chain.empty()) out += "\n";
  }

  for (const auto& expansion : selection.expanded) {
    out += "\nexpanded " + expansion.from + " (" + std::string(expansion_kind_word(expansion.kind)) + ") → " +
           std::to_string(expansion.count) + " node id(s)\n";
  }

  if (!selection.dropped.empty()) {
    const auto folded = std::count_if(selection.dropped.begin(), selection.dropped.end(),
                                      [](const DroppedEntry& drop) { return drop.why == DropReason::superseded; });
    if (folded > 0) {
      const auto whole_files = std::count_if(selection.node_ids.begin(), selection.node_ids.end(), is_whole_file);
      out += "\n" + std::to_string(folded) + " per-test node id(s) folded into " + std::to_string(whole_files) +
             " whole file(s): a file selected wholesale supersedes the node ids inside it\n";
    }
    out += "\ndropped (" + std::to_string(selection.dropped.size()) + ")\n";
    for (const auto& drop : selection.dropped) {
      out += "  " + drop.entry + "  — " + std::string(drop_reason_word(drop.why)) + "\n";
    }
  }

  if (plan.fallback) {
    out += "\nwould exec fallback: " + argv_to_json_text(plan.fallback->argv) + " (reason: " + plan.fallback->reason +
           ")\n  from: " + std::string(fallback_source_text(plan.fallback->source)) + "\n";
  }

  if (!plan.argv.empty()) {
    out += plan.start_dir ? "\nargv, started in " + *plan.start_dir + "\n" : std::string("\nargv\n");
    for (const auto& word : argv_display_strings(plan.argv)) out += "  " + word + "\n";
  } else if (selection.decision == Decision::nothing) {
    out += "\nargv: none — nothing would be run\n";
  } else {
    out += "\nargv: unknown — pytest could not be resolved\n";
  }
  return out;
}

}  // namespace pindrel::run
