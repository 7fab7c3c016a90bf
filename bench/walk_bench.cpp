// Times the reference walk's own work per level on a generated repository of a few thousand
// Python files, with a stand-in reference source that answers at once, and the word search
// beside `git -c grep.threads=1 grep -w` over the same files.
// Build with -DPINDREL_BENCH=ON -DCMAKE_BUILD_TYPE=Release; run ./build/walk_bench [FILES].
//
// Each level is walked twice: first with an empty source cache (reading and outlining the
// files the level meets, and everything else), then again with the cache the first walk
// filled (everything else alone); the difference is the reading and outlining.

#include "impact/walk.hpp"
#include "impact/word_search.hpp"
#include "project/config.hpp"
#include "util/clock.hpp"

#include <sys/wait.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <map>
#include <string>
#include <vector>

namespace {

namespace fs = std::filesystem;
using pindrel::ReferenceSite;
using pindrel::SymbolQuery;
using pindrel::SymbolReferences;
using pindrel::impact::Seed;
using Seconds = std::chrono::duration<double>;
using Instant = std::chrono::steady_clock::time_point;

constexpr int levels = 6;
constexpr int width = 100;  // symbols per level
constexpr int tests_per_symbol = 3;
constexpr int filler_functions = 12;
constexpr std::uint32_t f_line = 4 + filler_functions * 3;  // the line of `def f` below

void write(const fs::path& path, const std::string& text) {
  fs::create_directories(path.parent_path());
  std::ofstream(path, std::ios::binary) << text;
}

// A module of the chain: filler functions, then f, which calls the previous level's f.
std::string chain_module(int level, int index) {
  std::string text = "import os\n";
  text += level > 0 ? "import pkg.l" + std::to_string(level - 1) + ".m" + std::to_string(index) + " as prev\n"
                    : "prev = print\n";
  text += "\n";
  for (int k = 0; k < filler_functions; ++k) {
    text +=
        "def filler_" + std::to_string(k) + "(a, b):\n    return os.path.join(a, b, 'x" + std::to_string(k) + "')\n\n";
  }
  text += "def f(value):\n    total = prev.f(value)\n    return total + 1\n";
  return text;
}

std::string test_module(int index) {
  std::string text = "import pytest\nfrom pkg import helper\n\n";
  for (int k = 0; k < 8; ++k) {
    text += "def test_case_" + std::to_string(k) + "():\n    assert f(" + std::to_string(index) +
            ") == 1\n    assert helper() is None\n\n";
  }
  return text;
}

std::string filler_module(int index) {
  std::string text = "import os\n\n";
  for (int k = 0; k < 20; ++k) {
    text += "class Thing" + std::to_string(k) + ":\n    def run(self, x):\n        return x * " +
            std::to_string(index) + "\n\n";
  }
  if (index % 10 == 0) text += "def use():\n    return helper()\n";
  return text;
}

struct Repository {
  fs::path root;
  std::vector<std::string> files;
  std::map<std::string, std::vector<ReferenceSite>> answers;
  std::vector<Seed> seeds;
};

Repository generate(const fs::path& root, int total_files) {
  Repository repo{root, {}, {}, {}};
  auto add = [&](const std::string& rel, const std::string& text) {
    write(root / rel, text);
    repo.files.push_back(rel);
  };
  add("pkg/__init__.py", "def helper():\n    return None\n");
  for (int level = 0; level < levels; ++level) {
    const std::string dir = "pkg/l" + std::to_string(level);
    add(dir + "/__init__.py", "");
    for (int i = 0; i < width; ++i) {
      const std::string file = dir + "/m" + std::to_string(i) + ".py";
      add(file, chain_module(level, i));
      const std::string name = "pkg.l" + std::to_string(level) + ".m" + std::to_string(i) + ":f";
      std::vector<ReferenceSite>& sites = repo.answers[name];
      sites.push_back({file, f_line});  // its own definition
      if (level + 1 < levels) {
        const std::string user = "pkg/l" + std::to_string(level + 1) + "/m" + std::to_string(i) + ".py";
        sites.push_back({user, 2});           // the import line
        sites.push_back({user, f_line + 1});  // the call in the next level's f
      }
      for (int k = 0; k < tests_per_symbol; ++k) {
        const std::string test =
            "tests/l" + std::to_string(level) + "/test_m" + std::to_string(i) + "_" + std::to_string(k) + ".py";
        add(test, test_module(i));
        sites.push_back({test, 5 + 4 * static_cast<std::uint32_t>(k)});
      }
      if (level == 0) repo.seeds.push_back({{name, "f", file, f_line, 5}, pindrel::impact::SeedKind::changed});
    }
  }
  for (int i = 0; static_cast<int>(repo.files.size()) < total_files; ++i) {
    add("lib/filler" + std::to_string(i / 100) + "/x" + std::to_string(i) + ".py", filler_module(i));
  }
  std::ranges::sort(repo.seeds, {}, &Seed::name);
  return repo;
}

// Answers from the table, and notes when each question came and went.
class StandIn final : public pindrel::ReferenceSource {
 public:
  explicit StandIn(const std::map<std::string, std::vector<ReferenceSite>>& answers) : answers_(answers) {}
  pindrel::Result<std::vector<SymbolReferences>> references(std::span<const SymbolQuery> queries) override {
    asked.push_back(std::chrono::steady_clock::now());
    std::vector<SymbolReferences> answered;
    answered.reserve(queries.size());
    for (const SymbolQuery& query : queries) answered.push_back({query.name, answers_.at(query.name)});
    sizes.push_back(queries.size());
    answered_at.push_back(std::chrono::steady_clock::now());
    return answered;
  }
  std::vector<Instant> asked;
  std::vector<Instant> answered_at;
  std::vector<std::size_t> sizes;

 private:
  const std::map<std::string, std::vector<ReferenceSite>>& answers_;
};

// Milliseconds of each level's own work: from its answer to the next question, or to the end.
std::vector<double> walk_levels(const Repository& repo, pindrel::impact::SourceCache& cache,
                                std::vector<std::size_t>& sizes) {
  const pindrel::Config config;
  const pindrel::SteadyClock clock;
  StandIn source(repo.answers);
  pindrel::impact::WalkLimits limits;
  limits.max_symbols = 1u << 30;
  limits.max_depth = 1000;
  pindrel::impact::WalkState state(source, cache, config, limits, clock);
  const auto outcome = pindrel::impact::walk_references(state, repo.seeds);
  const Instant end = std::chrono::steady_clock::now();
  if (!outcome.is_completed() || state.impacted_tests.empty()) {
    std::fprintf(stderr, "walk did not complete\n");
    std::exit(1);
  }
  std::vector<double> ms;
  for (std::size_t i = 0; i < source.answered_at.size(); ++i) {
    const Instant until = i + 1 < source.asked.size() ? source.asked[i + 1] : end;
    ms.push_back(Seconds(until - source.answered_at[i]).count() * 1000);
  }
  sizes = source.sizes;
  return ms;
}

double time_git_grep(const fs::path& root, const std::string& word) {
  const std::string command =
      "cd '" + root.string() + "' && git -c grep.threads=1 grep -w -n -- " + word + " -- '*.py' > /dev/null";
  const Instant start = std::chrono::steady_clock::now();
  const int status = std::system(command.c_str());
  const double seconds = Seconds(std::chrono::steady_clock::now() - start).count();
  if (status == -1 || !WIFEXITED(status) || WEXITSTATUS(status) > 1) {
    std::fprintf(stderr, "git grep failed\n");
    std::exit(1);
  }
  return seconds;
}

}  // namespace

int main(int argc, char** argv) {
  const int total_files = argc > 1 ? std::atoi(argv[1]) : 4000;
  std::string pattern = (fs::temp_directory_path() / "pindrel-walk-bench-XXXXXX").string();
  if (::mkdtemp(pattern.data()) == nullptr) return 1;
  const fs::path root = pattern;
  const Repository repo = generate(root, total_files);
  const std::string git =
      "cd '" + root.string() + "' && git init -q && git add -A && git -c user.name=b -c user.email=b@b commit -qm base";
  if (std::system(git.c_str()) != 0) return 1;
  std::printf("repository: %zu Python files, %d levels of %d symbols\n", repo.files.size(), levels, width);

  const int rounds = 5;
  std::vector<double> cold(levels, 1e300);
  std::vector<double> warm(levels, 1e300);
  std::vector<std::size_t> sizes;
  for (int round = 0; round < rounds; ++round) {
    auto cache = pindrel::impact::new_source_cache(root, repo.files);
    const auto first = walk_levels(repo, cache, sizes);
    const auto second = walk_levels(repo, cache, sizes);
    for (std::size_t level = 0; level < first.size() && level < cold.size(); ++level) {
      cold[level] = std::min(cold[level], first[level]);
      warm[level] = std::min(warm[level], second[level]);
    }
  }
  std::printf("level  symbols  total ms  reading+outlining ms  everything else ms (target < 10)\n");
  for (std::size_t level = 0; level < sizes.size(); ++level) {
    std::printf("%5zu  %7zu  %8.2f  %20.2f  %18.2f\n", level, sizes[level], cold[level], cold[level] - warm[level],
                warm[level]);
  }

  const std::string word = "helper";
  double ours = 1e300;
  double theirs = 1e300;
  std::size_t hits = 0;
  for (int round = 0; round < rounds; ++round) {
    auto cache = pindrel::impact::new_source_cache(root, repo.files);
    const Instant start = std::chrono::steady_clock::now();
    auto found = pindrel::impact::grep_word_in_files(cache, word);
    ours = std::min(ours, Seconds(std::chrono::steady_clock::now() - start).count());
    if (!found) return 1;
    hits = found->size();
    theirs = std::min(theirs, time_git_grep(root, word));
  }
  std::printf(
      "word search \"%s\": %zu lines; grep_word_in_files %.2f ms, git grep -w %.2f ms, ratio %.2f (target <= 1.5)\n",
      word.c_str(), hits, ours * 1000, theirs * 1000, ours / theirs);
  fs::remove_all(root);
  return 0;
}
