#include "run/doctest_modules.hpp"

#include "impact/test_support.hpp"
#include "project/modpath.hpp"
#include "util/utf8.hpp"

#include <map>
#include <optional>
#include <set>
#include <unordered_map>

namespace pindrel::run {
namespace {

std::string_view module_of(std::string_view symbol) { return symbol.substr(0, symbol.find(':')); }

class DoctestCollector {
 public:
  DoctestCollector(impact::SourceCache& cache, const PytestSettings& settings) : cache_(cache), settings_(settings) {}

  void add_file(const std::string& file, const ReferenceChain& chain) {
    if (!seen_.insert(file).second) return;
    if (is_test_file(file, cache_.root) && !impact::is_test_support_file(file, cache_.root, settings_)) return;
    const auto source = impact::read_source_cached(cache_, file);
    if (!source || *source == nullptr) return;
    // pytest's doctest plugin passes over these, and a path given to it would run them as modules.
    const std::string_view name = std::string_view(file).substr(file.rfind('/') + 1);
    const std::string_view text = (*source)->text;
    const bool setup_script = name == "setup.py" && (text.find("setuptools") != std::string_view::npos ||
                                                     text.find("distutils") != std::string_view::npos);
    if (name == "__main__.py" || setup_script) return;
    files_.push_back({file, chain});
  }

  void add_symbol(std::string_view symbol, const ReferenceChain& chain) {
    const auto file = file_of_module(module_of(symbol));
    if (file) add_file(*file, chain);
  }

  std::vector<DoctestFile> take() { return std::move(files_); }

 private:
  // The source file of a module, among the cache's files; the map is made on first need.
  std::optional<std::string> file_of_module(std::string_view module) {
    if (!modules_) {
      modules_.emplace();
      std::unordered_map<std::filesystem::path, bool> has_init;
      const InitFileProbe probe = [&](const std::filesystem::path& dir) {
        const auto [at, added] = has_init.try_emplace(dir, false);
        if (added) {
          std::error_code ignored;
          at->second = std::filesystem::exists(cache_.root / dir / "__init__.py", ignored);
        }
        return at->second;
      };
      for (const auto& path : cache_.python_files) {
        if (auto name = module_name_for_path(path, probe)) modules_->try_emplace(std::move(*name), path.native());
      }
    }
    const auto found = modules_->find(module);
    if (found == modules_->end()) return std::nullopt;
    return found->second;
  }

  impact::SourceCache& cache_;
  const PytestSettings& settings_;
  std::set<std::string, std::less<>> seen_;
  std::optional<std::map<std::string, std::string, std::less<>>> modules_;
  std::vector<DoctestFile> files_;
};

}  // namespace

std::vector<DoctestFile> doctest_files(const impact::ImpactReport& report, std::span<const ChangedDefinition> changed,
                                       const std::map<std::string, impact::VisitedEntry>& reached,
                                       impact::SourceCache& cache, const PytestSettings& settings) {
  DoctestCollector collector(cache, settings);
  for (const ChangedDefinition& definition : changed) collector.add_file(definition.file, {{}, definition.symbol});
  for (const impact::ImpactedTest& test : report.impacted_tests) {
    collector.add_symbol(test.origin, {{}, test.origin});
    // Each reached definition with the part of the chain that leads to it from the origin.
    for (std::size_t i = 0; i < test.via.size(); ++i) {
      collector.add_symbol(test.via[i],
                           {{test.via.begin() + static_cast<std::ptrdiff_t>(i), test.via.end()}, test.origin});
    }
  }
  for (const auto& [name, entry] : reached) {
    impact::ReachChain chain = impact::reach_chain(reached, name);
    collector.add_symbol(name, {std::move(chain.via), std::move(chain.origin)});
  }
  return collector.take();
}

}  // namespace pindrel::run
