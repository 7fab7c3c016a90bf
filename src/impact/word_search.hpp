#pragma once

#include "impact/source_cache.hpp"
#include "qlo/client.hpp"
#include "util/error.hpp"

#include <string_view>
#include <vector>

namespace pindrel::impact {

// Every line of the cache's Python files that holds `word` as a whole word, files in the
// cache's order and lines ascending, each line once; absent files are passed over and a read
// error ends the search.
Result<std::vector<ReferenceSite>> grep_word_in_files(SourceCache& cache, std::string_view word);

}  // namespace pindrel::impact
