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
  const auto detail =
      is_test_file(path, cache.root) ? pysource::ImportTimeDetail::none : pysource::ImportTimeDetail::name_uses;
  auto entry = std::make_shared<CachedSource>(CachedSource{std::move(**text), std::nullopt, detail});
  cache.entries.emplace(path, entry);
  return entry;
}

Result<bool> scan_source(SourceCache& cache, const std::filesystem::path& path,
                         const std::function<void(std::string_view)>& scan) {
  if (auto found = cache.entries.find(path); found != cache.entries.end()) {
    if (found->second == nullptr) return false;
    scan(found->second->text);
    return true;
  }
  const std::filesystem::path full = cache.root / path;
  auto read = read_utf8_into(full, cache.scan_buffer);
  if (!read) return std::unexpected(std::move(read.error()).context("could not read " + display_path(full)));
  if (!*read) {
    cache.entries.emplace(path, nullptr);
    return false;
  }
  scan(cache.scan_buffer);
  return true;
}

pysource::SharedOutline cached_outline(CachedSource& source) {
  return pysource::outline_shared(source.outline, source.text, source.import_time);
}

}  // namespace pindrel::impact
