// Turns the diff into the changed-symbols report. Each changed line of each side maps to
// the innermost definition holding it; the symbols touched on either side are then judged
// by whether their qualified name exists on each side under the same module name, so a
// moved file reports its old names deleted and its new names added. A changed line that runs
// at import time, outside any definition or in one's header, is also a module-level change.
#include "changed/symbols_from_diff.hpp"

#include "changed/diff_reader.hpp"
#include "changed/file_version.hpp"
#include "project/glob.hpp"
#include "project/modpath.hpp"
#include "pysource/enclosing.hpp"
#include "util/utf8.hpp"

#include <algorithm>
#include <map>
#include <optional>
#include <set>
#include <span>
#include <string_view>
#include <tuple>
#include <unordered_map>
#include <utility>

namespace pindrel::changed {
namespace {

using pysource::Definition;

// The first definition of each qualified name of one version, for judging many symbols.
class QualnameIndex {
 public:
  explicit QualnameIndex(const std::optional<FileVersion>& version) : version_(version) {
    if (!version) return;
    first_.reserve(version->outline.definitions.size());
    for (const auto& definition : version->outline.definitions) first_.emplace(definition.qualname, &definition);
  }

  const FileVersion* version() const { return version_ ? &*version_ : nullptr; }

  const Definition* find(std::string_view module, std::string_view qualname) const {
    if (!version_ || version_->module != module) return nullptr;
    const auto found = first_.find(qualname);
    return found == first_.end() ? nullptr : found->second;
  }

 private:
  const std::optional<FileVersion>& version_;
  std::unordered_map<std::string_view, const Definition*> first_;
};

// What the header of `definition` in `version` evaluates; none when it cannot be read.
std::optional<std::uint64_t> evaluated_header(const FileVersion& version, const Definition& definition) {
  if (version.tree == nullptr) return std::nullopt;
  return pysource::evaluated_header(*version.tree, definition);
}

// A definition's header runs what it evaluates when the module is imported: its decorators,
// defaults, evaluated annotations and bases. A change to it runs something new only when those
// differ from the other version's (`counterpart` in `other`, absent for an added definition); a
// header that cannot be read counts as changed.
bool header_runs_anew(const FileVersion& version, const Definition& definition, const FileVersion* other,
                      const Definition* counterpart) {
  // A def turned class, or the other way, runs its body at import where it did not, or stops.
  const auto is_class = [](const Definition& d) { return d.kind == pysource::DefinitionKind::class_; };
  if (counterpart != nullptr && is_class(*counterpart) != is_class(definition)) return true;
  const std::optional<std::uint64_t> evaluated = evaluated_header(version, definition);
  if (!evaluated) return true;
  if (counterpart == nullptr) return *evaluated != 0;
  const std::optional<std::uint64_t> before = evaluated_header(*other, *counterpart);
  return !before || *before != *evaluated;
}

struct SourceTexts {
  Result<std::optional<std::string>> merge_base;
  Result<std::optional<std::string>> working_tree;
};

struct Touch {
  const Definition* definition;
  const FileVersion* version;
};

// What one changed file adds to the report, gathered in sorted sets.
class ReportBuilder {
 public:
  ReportBuilder(const GitHandle& git, const std::filesystem::path& root, const Config& config, const BaseRefs& refs)
      : git_(git), root_(root), config_(config), refs_(refs) {
    for (const auto& pattern : config.ignore_paths) ignore_patterns_.push_back(glob_segments(pattern));
  }

  // Puts a changed file that is not outlined into its list; false for a Python source to outline.
  bool set_aside(const FileDiff& diff) {
    const std::optional<std::string>& named = diff.new_path ? diff.new_path : diff.old_path;
    if (!named) return true;
    const std::string& path = *named;

    const bool python = has_py_extension(path, ExtensionCase::exact);
    if (diff.is_binary || !python) {
      // A ".py" path is never an ignored path, not even a binary one.
      if (!python && is_ignored(path)) {
        ignored_paths_.insert(path);
      } else {
        non_python_.insert(path);
      }
      return true;
    }
    if (is_test_file(path, root_)) {
      test_files_.insert(path);
      return true;
    }
    return false;
  }

  // The texts of both versions of a Python source to outline.
  SourceTexts read_texts(const FileDiff& diff) const {
    return {read_version_text(diff.old_path, git_, root_, refs_.merge_base, Side::merge_base),
            read_version_text(diff.new_path, git_, root_, refs_.merge_base, Side::working_tree)};
  }

  // What the two versions of a Python source changed.
  Result<void> add_source(const FileDiff& diff, SourceTexts texts) {
    const std::string& path = diff.new_path ? *diff.new_path : *diff.old_path;  // set_aside took none without
    auto old_version = outline_version(diff.old_path, root_, std::move(texts.merge_base));
    if (!old_version) return std::unexpected(std::move(old_version.error()));
    auto new_version = outline_version(diff.new_path, root_, std::move(texts.working_tree));
    if (!new_version) return std::unexpected(std::move(new_version.error()));

    const bool unparsed =
        (*old_version && (*old_version)->outline.has_error) || (*new_version && (*new_version)->outline.has_error);
    if (unparsed) {
      errors_.insert(path);
      for (const auto* version : {&*old_version, &*new_version}) {
        if (*version) module_changes_.emplace((*version)->module, (*version)->path);
      }
      return {};
    }

    std::vector<LineSpan> old_lines, new_lines;
    if (diff.ranges) {
      old_lines = changed_lines(diff.ranges->old_ranges);
      new_lines = changed_lines(diff.ranges->new_ranges);
    } else {
      old_lines = all_lines(*old_version);
      new_lines = all_lines(*new_version);
    }

    const QualnameIndex old_index(*old_version), new_index(*new_version);
    // A plain definition gone from a module that stays only unbinds its name: the word search for
    // the name finds whoever still imports it, so its lines change nothing at import time.
    const bool same_module = *old_version && *new_version && (*old_version)->module == (*new_version)->module;
    std::map<std::string, Touch> touched;
    touch_lines(*old_version, old_lines, touched, same_module ? &new_index : nullptr, Side::merge_base);
    touch_lines(*new_version, new_lines, touched, same_module ? &old_index : nullptr, Side::working_tree);
    if (touched.empty()) return {};
    for (const auto& [symbol, touch] : touched) report_symbol(symbol, touch, old_index, new_index, *new_version);
    return {};
  }

  ChangedSymbols finish() && {
    ChangedSymbols report;
    report.base = refs_.base;
    report.merge_base = refs_.merge_base;
    report.changed_symbols = dedup_symbol_changes(std::move(changed_));
    report.ignored_symbols = dedup_symbol_changes(std::move(ignored_));
    for (auto& [module, file] : module_changes_) report.module_level_changes.push_back(ModuleChange{module, file});
    report.non_python_changes.assign(non_python_.begin(), non_python_.end());
    report.ignored_paths.assign(ignored_paths_.begin(), ignored_paths_.end());
    report.test_files_changed.assign(test_files_.begin(), test_files_.end());
    report.errors.assign(errors_.begin(), errors_.end());
    return report;
  }

 private:
  bool is_ignored(std::string_view path) const {
    const auto segments = glob_segments(path);
    return std::any_of(ignore_patterns_.begin(), ignore_patterns_.end(),
                       [&](const auto& pattern) { return glob_match_segments(pattern, segments); });
  }

  // `other`, when given, holds the other side's definitions of the same module: a header line of a
  // definition there changes the module only when what the header evaluates differs, and a line
  // of an undecorated definition missing from the working tree changes nothing at import.
  void touch_lines(const std::optional<FileVersion>& version, const std::vector<LineSpan>& spans,
                   std::map<std::string, Touch>& touched, const QualnameIndex* other, Side side) {
    if (!version) return;
    // Past the text and every definition's end, a line lies in no definition and counts as not
    // blank: the first such line stands for the rest, however many a damaged hunk header claims.
    std::uint64_t known = version->blank_lines.size();
    for (const auto& definition : version->outline.definitions) {
      known = std::max<std::uint64_t>(known, definition.end_line);
    }
    pysource::EnclosingDefinitions enclosing(version->outline);
    // Consecutive lines mostly share a definition; entering it once saves a name per line, and
    // its header is compared once.
    const Definition* previous = nullptr;
    const Definition* header_judged = nullptr;  // the definition `header_runs` holds for
    bool header_runs = false;
    bool module_changed = false;
    for (const LineSpan& span : spans) {
      const std::uint64_t last = std::min<std::uint64_t>(span.last, known + 1);
      for (std::uint64_t at = span.first; at <= last; ++at) {
        const auto line = static_cast<std::uint32_t>(at);
        const Definition* definition = enclosing.at(line);
        if (definition != nullptr && definition != previous) {
          previous = definition;
          // A symbol touched on both sides ends with its working-tree definition.
          touched.insert_or_assign(version->module + ":" + definition->qualname, Touch{definition, &*version});
        }
        if (module_changed) continue;
        if (definition != nullptr) {
          const Definition* counterpart = other ? other->find(version->module, definition->qualname) : nullptr;
          const bool deleted_plainly =
              side == Side::merge_base && other != nullptr && counterpart == nullptr && definition->decorators.empty();
          if (deleted_plainly) continue;
          // The statements of a class body outside its methods run when the module is imported; a
          // function's body waits for a call. A definition gone from the working tree loses what
          // its header ran at import.
          bool runs = definition->kind == pysource::DefinitionKind::class_;
          if (line <= definition->header_end_line) {
            if (side == Side::merge_base && counterpart == nullptr) {
              runs = true;
            } else {
              if (header_judged != definition) {
                header_judged = definition;
                header_runs = header_runs_anew(*version, *definition, other ? other->version() : nullptr, counterpart);
              }
              runs = header_runs;
            }
          }
          if (!runs) continue;
        }
        const bool blank = line >= 1 && line <= version->blank_lines.size() && version->blank_lines[line - 1];
        if (!blank) {
          module_changes_.emplace(version->module, version->path);
          module_changed = true;
        }
      }
    }
  }

  void report_symbol(const std::string& symbol, const Touch& touch, const QualnameIndex& old_index,
                     const QualnameIndex& new_index, const std::optional<FileVersion>& new_version) {
    const bool in_old = old_index.find(touch.version->module, touch.definition->qualname) != nullptr;
    const Definition* in_new = new_index.find(touch.version->module, touch.definition->qualname);
    const Definition& reported = in_new ? *in_new : *touch.definition;

    SymbolChange change;
    change.symbol = symbol;
    change.file = in_new ? new_version->path : touch.version->path;
    change.kind = reported.kind;
    change.line = reported.line;
    change.column = reported.column;
    change.change = !in_old ? ChangeKind::added : in_new ? ChangeKind::modified : ChangeKind::deleted;
    change.ignored_by = ignoring_entry(reported.decorators, config_.ignore_decorators);
    (change.ignored_by ? ignored_ : changed_).push_back(std::move(change));
  }

  const GitHandle& git_;
  const std::filesystem::path& root_;
  const Config& config_;
  const BaseRefs& refs_;
  std::vector<std::vector<std::string_view>> ignore_patterns_;  // views into config_

  std::vector<SymbolChange> changed_;
  std::vector<SymbolChange> ignored_;
  std::set<std::pair<std::string, std::string>> module_changes_;  // module, then file
  std::set<std::string> non_python_;
  std::set<std::string> ignored_paths_;
  std::set<std::string> test_files_;
  std::set<std::string> errors_;
};

// Replaces each path that is not UTF-8 by its text, and returns those paths as they were,
// each once.
std::vector<std::string> decode_paths(std::vector<FileDiff>& diffs) {
  std::vector<std::string> undecodable;
  for (FileDiff& diff : diffs) {
    for (std::optional<std::string>* path : {&diff.old_path, &diff.new_path}) {
      if (!*path || is_valid_utf8(**path)) continue;
      if (std::ranges::find(undecodable, **path) == undecodable.end()) undecodable.push_back(**path);
      **path = lossy_utf8(**path);
    }
  }
  return undecodable;
}

}  // namespace

Result<WorkingTreeChanges> changed_symbols_from_diff(const GitHandle& git, const std::filesystem::path& root,
                                                     const Config& config, const BaseRefs& refs,
                                                     std::vector<std::string> untracked) {
  auto diffs = diff_working_tree(git, refs, std::move(untracked));
  if (!diffs) return std::unexpected(std::move(diffs.error()));
  std::vector<std::string> undecodable = decode_paths(*diffs);
  ReportBuilder builder(git, root, config, refs);
  // The texts of a run of sources are read before any of them is outlined: a git process run
  // between two parses leaves the parser's tables out of the processor's caches, which costs more
  // than the walk over the tree. The sources are still taken in order, so the first failing one is
  // the one reported.
  constexpr std::size_t run = 32;
  std::vector<std::optional<SourceTexts>> texts;
  for (std::size_t first = 0; first < diffs->size(); first += run) {
    const std::span<const FileDiff> files(diffs->data() + first, std::min(run, diffs->size() - first));
    texts.clear();
    for (const FileDiff& diff : files) {
      texts.emplace_back();
      if (!builder.set_aside(diff)) texts.back() = builder.read_texts(diff);
    }
    for (std::size_t i = 0; i < files.size(); ++i) {
      if (!texts[i]) continue;
      auto added = builder.add_source(files[i], std::move(*texts[i]));
      if (!added) return std::unexpected(std::move(added.error()));
    }
  }
  ChangedSymbols report = std::move(builder).finish();
  // Read back by its replaced name, such a source was passed over: the report says so, so that a
  // replay of it cannot take the change for nothing.
  std::set<std::string> errors(report.errors.begin(), report.errors.end());
  for (const std::string& path : undecodable) {
    if (path.ends_with(".py")) errors.insert(lossy_utf8(path));
  }
  report.errors.assign(errors.begin(), errors.end());
  return WorkingTreeChanges{std::move(report), std::move(undecodable)};
}

std::vector<SymbolChange> dedup_symbol_changes(std::vector<SymbolChange> changes) {
  std::stable_sort(changes.begin(), changes.end(), [](const SymbolChange& a, const SymbolChange& b) {
    return std::tie(a.symbol, a.file) < std::tie(b.symbol, b.file);
  });
  const auto same = [](const SymbolChange& kept, const SymbolChange& next) {
    return kept.symbol == next.symbol && kept.file == next.file;
  };
  const auto repeats = std::unique(changes.begin(), changes.end(), same);
  changes.erase(repeats, changes.end());
  return changes;
}

bool decorator_matches_entry(std::string_view name, std::string_view entry) {
  if (name == entry) return true;
  return name.size() > entry.size() && name.ends_with(entry) && name[name.size() - entry.size() - 1] == '.';
}

std::optional<std::string> ignoring_entry(const std::vector<pysource::Decorator>& decorators,
                                          const std::vector<std::string>& ignore_decorators) {
  for (const auto& decorator : decorators) {
    const std::string_view name = decorator.decorator_name;
    for (const auto& entry : ignore_decorators) {
      if (decorator_matches_entry(name, entry)) return entry;
    }
  }
  return std::nullopt;
}

}  // namespace pindrel::changed
