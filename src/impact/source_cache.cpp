#include "impact/source_cache.hpp"

#include "project/modpath.hpp"
#include "util/utf8.hpp"

namespace pindrel::impact {

SourceCache new_source_cache(const std::filesystem::path& root, std::span<const std::string> listed_files) {
  SourceCache cache;
  cache.root = root;
  for (const std::string& file : listed_files) {
    if (has_py_extension(file, ExtensionCase::exact)) cache.python_files.emplace_back(file);
  }
  return cache;
}

Result<std::shared_ptr<CachedSource>> read_source_cached(SourceCache& cache, const std::filesystem::path& path) {
  if (auto found = cache.entries.find(path); found != cache.entries.end()) return found->second;
  const std::filesystem::path full = cache.root / path;
  auto text = read_utf8_if_present(full);
  if (!text) return std::unexpected(std::move(text.error()).context("could not read " + display_path(full)));
  if (!*text) {
    cache.entries.emplace(path, nullptr);
    return nullptr;
  }
  auto entry = std::make_shared<CachedSource>(CachedSource{std::move(**text), std::nullopt});
  cache.entries.emplace(path, entry);
  return entry;
}

pysource::SharedOutline cached_outline(CachedSource& source) {
  return pysource::outline_shared(source.outline, source.text);
}

}  // namespace pindrel::impact
