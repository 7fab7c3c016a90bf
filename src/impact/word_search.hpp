#pragma once

#include "impact/source_cache.hpp"
#include "qlo/client.hpp"
#include "util/error.hpp"

#include <cstddef>
#include <span>
#include <string_view>
#include <vector>

namespace pindrel::impact {

// More hits than this say that a word is too common to stand for the one name searched.
constexpr std::size_t max_word_hits = 400;

// Every line of the cache's Python files that holds `word` as a whole word, files in the
// cache's order and lines ascending, each line once; each text is let go once searched
// (scan_source), absent files are passed over and a read error ends the search.
Result<std::vector<ReferenceSite>> grep_word_in_files(SourceCache& cache, std::string_view word);

// The same over the files of the cache's list at the indices `files`, in their order.
Result<std::vector<ReferenceSite>> grep_word_in_files(SourceCache& cache, std::span<const std::size_t> files,
                                                      std::string_view word);

}  // namespace pindrel::impact
