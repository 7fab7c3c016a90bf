#pragma once

#include "pysource/outline.hpp"
#include "util/error.hpp"
#include "util/file_read.hpp"

#include <filesystem>
#include <functional>
#include <memory>
#include <optional>
#include <span>
#include <string>
#include <string_view>
#include <unordered_map>
#include <vector>

namespace pindrel::impact {

// One file as read once for a walk or a selection, shared by everyone who asks for it.
struct CachedSource {
  std::string text;
  pysource::OutlineSlot outline;  // filled on first use, then kept
  // What runs at import is judged only for the sites outside test files.
  pysource::ImportTimeDetail import_time = pysource::ImportTimeDetail::none;
};

// The repository's Python files and every file read so far, each read and outlined at most
// once, so that all of one walk sees one version of a file.
struct SourceCache {
  std::vector<std::filesystem::path> python_files;  // listing order, duplicates kept
  std::filesystem::path root;
  // Keyed by path compared component by component; null for a file that does not exist.
  std::unordered_map<std::filesystem::path, std::shared_ptr<CachedSource>> entries;
  std::string scan_buffer;  // the text of the file a scan reads, reused from file to file
};

// A cache over the listed files; reads nothing yet.
SourceCache new_source_cache(const std::filesystem::path& root, std::span<const std::string> listed_files);

// The file at root/path: null when it does not exist (remembered), else its shared entry.
// Read errors are not remembered, so a later request tries again.
Result<std::shared_ptr<CachedSource>> read_source_cached(SourceCache& cache, const std::filesystem::path& path);

// Hands `scan` the text of the file at root/path without keeping it: an entry read before is
// scanned as it is; any other file is read into the cache's scan buffer, so that a scan over
// every file holds one text at a time, and is read again when a later step needs it. False
// when the file does not exist (remembered); read errors are those of read_source_cached.
Result<bool> scan_source(SourceCache& cache, const std::filesystem::path& path,
                         const std::function<void(std::string_view)>& scan);

// The entry's outline, built on first use; null when it failed or the source has an error.
pysource::SharedOutline cached_outline(CachedSource& source);

}  // namespace pindrel::impact
