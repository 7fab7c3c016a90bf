#include "impact/word_search.hpp"

#include "pysource/word.hpp"

#include <string.h>

#include <algorithm>
#include <cstdint>

namespace pindrel::impact {
namespace {

// Adds the lines of `text` that hold `word` as a whole word. Rather than splitting every line,
// it jumps from one occurrence of the word to the next and judges only the lines that hold
// one, counting line feeds on the way.
void add_word_lines(std::vector<ReferenceSite>& sites, const std::filesystem::path& file, std::string_view text,
                    std::string_view word) {
  std::size_t line_start = 0;  // of the line with number `line`
  std::uint32_t line = 1;
  while (line_start < text.size()) {
    const void* hit = ::memmem(text.data() + line_start, text.size() - line_start, word.data(), word.size());
    if (hit == nullptr) return;
    const auto at = static_cast<std::size_t>(static_cast<const char*>(hit) - text.data());
    const auto hit_line_start = text.rfind('\n', at);
    const std::size_t start = hit_line_start == std::string_view::npos ? 0 : hit_line_start + 1;
    if (start > line_start) {
      line += static_cast<std::uint32_t>(std::count(text.begin() + static_cast<std::ptrdiff_t>(line_start),
                                                    text.begin() + static_cast<std::ptrdiff_t>(start), '\n'));
    }
    const auto newline = text.find('\n', start);
    const std::size_t end = newline == std::string_view::npos ? text.size() : newline;
    std::string_view body = text.substr(start, end - start);
    if (newline != std::string_view::npos && body.ends_with('\r')) body.remove_suffix(1);
    if (pysource::contains_word(body, word)) sites.push_back({file, line});
    if (newline == std::string_view::npos) return;
    line_start = newline + 1;
    ++line;
  }
}

}  // namespace

Result<std::vector<ReferenceSite>> grep_word_in_files(SourceCache& cache, std::string_view word) {
  std::vector<ReferenceSite> sites;
  if (word.empty()) return sites;  // no line holds the empty word
  for (const std::filesystem::path& file : cache.python_files) {
    auto scanned = scan_source(cache, file, [&](std::string_view text) { add_word_lines(sites, file, text, word); });
    if (!scanned) return std::unexpected(std::move(scanned.error()));
  }
  return sites;
}

Result<std::vector<ReferenceSite>> grep_word_in_files(SourceCache& cache, std::span<const std::size_t> files,
                                                      std::string_view word) {
  std::vector<ReferenceSite> sites;
  if (word.empty()) return sites;
  for (const std::size_t file : files) {
    const std::filesystem::path& path = cache.python_files[file];
    auto scanned = scan_source(cache, path, [&](std::string_view text) { add_word_lines(sites, path, text, word); });
    if (!scanned) return std::unexpected(std::move(scanned.error()));
  }
  return sites;
}

}  // namespace pindrel::impact
