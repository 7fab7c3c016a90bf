// Selects node ids from an impact report of 2,000 impacted tests over 500 test files in a
// generated git repository, and prints the time of the file listing plus the selection next
// to its floor: reading and outlining every test file once through a fresh source cache.
// Build with -DPINDREL_BENCH=ON -DCMAKE_BUILD_TYPE=Release; run ./build/selection_bench.

#include "git.hpp"
#include "impact/impact_report.hpp"
#include "impact/source_cache.hpp"
#include "run/selection.hpp"
#include "util/path_search.hpp"
#include "util/process.hpp"

#include <stdlib.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <string>
#include <vector>

namespace {

namespace fs = std::filesystem;
using pindrel::impact::ImpactedTest;
using pindrel::impact::ImpactReport;

constexpr int areas = 25;
constexpr int files_per_area = 20;  // 500 test files
constexpr int source_modules = 300;
constexpr int rounds = 7;

void write(const fs::path& path, const std::string& text) {
  fs::create_directories(path.parent_path());
  std::ofstream(path, std::ios::binary) << text;
}

std::string conftest_source() {
  return "import pytest\n\n"
         "@pytest.fixture\ndef db(app):\n    return app.db\n\n"
         "@pytest.fixture\ndef user(db):\n    return db.user()\n\n"
         "@pytest.fixture\ndef client(user, tmp_path):\n    return user.client(tmp_path)\n";
}

std::string test_source(int n) {
  const std::string i = std::to_string(n);
  std::string text = "import pytest\nfrom pkg import mod_" + i + "\n\n";
  text += "@pytest.fixture\ndef local_" + i + "(db):\n    return db.local()\n\n";
  for (int t = 0; t < 6; ++t) {
    const std::string k = std::to_string(t);
    text += "def test_function_" + k + "(client, local_" + i + "):\n    assert mod_" + i + ".f(" + k + ")\n\n";
  }
  text += "@pytest.mark.usefixtures(\"user\")\nclass TestService" + i + ":\n";
  for (int t = 0; t < 4; ++t) {
    text += "    def test_method_" + std::to_string(t) + "(self, db):\n        assert db\n\n";
  }
  text += "    def make_data(self):\n        return 1\n";
  return text;
}

bool git(const fs::path& dir, std::vector<std::string> args) {
  args.insert(args.begin(), "git");
  auto done = pindrel::run_captured({args, dir});
  return done && done->status.success();
}

// Four entries per test file, most of them test nodes, with the fixtures of every area's
// conftest.py, the root fixture and each file's local fixture among them.
ImpactReport impact_report(const std::vector<std::string>& test_files) {
  ImpactReport report;
  for (std::size_t n = 0; n < test_files.size(); ++n) {
    const std::string& file = test_files[n];
    const std::string module = fs::path(file).replace_extension().generic_string();
    std::string dotted = module;
    std::replace(dotted.begin(), dotted.end(), '/', '.');
    const auto add = [&](std::optional<std::string> symbol) {
      report.impacted_tests.push_back(
          {file, std::move(symbol), {"pkg.mod_" + std::to_string(n) + ":f"}, "pkg.core:connect", {}});
    };
    add(dotted + ":test_function_" + std::to_string(n % 6));
    add(dotted + ":TestService" + std::to_string(n) + ".test_method_" + std::to_string(n % 4));
    add(dotted + ":TestService" + std::to_string(n) + ".make_data");
    if (n % 20 == 0) {
      add(dotted + ":local_" + std::to_string(n));
    } else if (n % 20 == 1) {
      add(std::nullopt);
    } else {
      add(dotted + ":test_function_" + std::to_string((n + 3) % 6));
    }
  }
  report.impacted_tests.resize(2000 - areas - 1);
  for (int a = 0; a < areas; ++a) {
    const std::string dir = "tests/area_" + std::to_string(a);
    report.impacted_tests.push_back(
        {dir + "/conftest.py", "tests.area_" + std::to_string(a) + ".conftest:db", {}, "pkg.core:connect", {}});
  }
  report.impacted_tests.push_back({"tests/conftest.py", "tests.conftest:app", {}, "pkg.core:connect", {}});
  return report;
}

double ms_since(std::chrono::steady_clock::time_point start) {
  return std::chrono::duration<double, std::milli>(std::chrono::steady_clock::now() - start).count();
}

}  // namespace

int main() {
  char pattern[] = "/tmp/pindrel-selection-bench-XXXXXX";
  if (::mkdtemp(pattern) == nullptr) return 2;
  const fs::path root = pattern;

  std::vector<std::string> test_files;
  write(root / "tests/conftest.py", "import pytest\n\n@pytest.fixture\ndef app():\n    return object()\n");
  for (int a = 0; a < areas; ++a) {
    const std::string dir = "tests/area_" + std::to_string(a);
    write(root / dir / "conftest.py", conftest_source());
    for (int f = 0; f < files_per_area; ++f) {
      const int n = a * files_per_area + f;
      test_files.push_back(dir + "/test_file_" + std::to_string(n) + ".py");
      write(root / test_files.back(), test_source(n));
    }
  }
  for (int m = 0; m < source_modules; ++m) {
    write(root / ("pkg/mod_" + std::to_string(m) + ".py"), "def f(x):\n    return x\n");
  }
  ::setenv("GIT_CONFIG_NOSYSTEM", "1", 1);
  ::setenv("GIT_CONFIG_GLOBAL", "/dev/null", 1);
  if (!git(root, {"init", "-q", "-b", "main"}) || !git(root, {"add", "-A"}) ||
      !git(root, {"-c", "user.name=bench", "-c", "user.email=bench@example.com", "commit", "-q", "-m", "base"})) {
    std::fprintf(stderr, "git failed\n");
    return 2;
  }
  auto git_path = pindrel::find_on_path("git", pindrel::PathSearch::from_process());
  if (!git_path) return 2;
  const pindrel::GitHandle handle{*git_path, root};
  const ImpactReport report = impact_report(test_files);

  double best_listing = 1e300, best_selection = 1e300, best_total = 1e300, best_floor = 1e300, best_warm = 1e300;
  std::size_t node_ids = 0, expanded = 0, dropped = 0;
  for (int round = 0; round < rounds; ++round) {
    const auto start = std::chrono::steady_clock::now();
    auto listed = pindrel::list_repository_files(handle, std::nullopt);
    if (!listed) {
      std::fprintf(stderr, "%s\n", listed.error().render().c_str());
      return 2;
    }
    const double listing = ms_since(start);
    const auto selecting = std::chrono::steady_clock::now();
    pindrel::impact::SourceCache cache = pindrel::impact::new_source_cache(root, *listed);
    const pindrel::run::Selection selection = pindrel::run::build_selection(report, cache);
    const double selection_ms = ms_since(selecting);
    best_listing = std::min(best_listing, listing);
    best_selection = std::min(best_selection, selection_ms);
    best_total = std::min(best_total, listing + selection_ms);
    node_ids = selection.node_ids.size();
    expanded = selection.expanded.size();
    dropped = selection.dropped.size();

    const auto floor_start = std::chrono::steady_clock::now();
    pindrel::impact::SourceCache fresh = pindrel::impact::new_source_cache(root, *listed);
    for (const auto& path : fresh.python_files) {
      if (!path.native().starts_with("tests/")) continue;
      auto source = pindrel::impact::read_source_cached(fresh, path);
      if (source && *source) pindrel::impact::cached_outline(**source);
    }
    best_floor = std::min(best_floor, ms_since(floor_start));

    // The same selection over the cache the floor filled: the selection's own work alone.
    const auto warm_start = std::chrono::steady_clock::now();
    const pindrel::run::Selection again = pindrel::run::build_selection(report, fresh);
    best_warm = std::min(best_warm, ms_since(warm_start));
    if (again.node_ids.size() != node_ids) return 2;
  }

  std::printf("selection: %zu impacted tests over %zu test files -> %zu node ids, %zu expansions, %zu dropped\n",
              report.impacted_tests.size(), test_files.size(), node_ids, expanded, dropped);
  std::printf("best of %d: listing %.1f ms + selection %.1f ms = %.1f ms (target under 100 ms)\n", rounds, best_listing,
              best_selection, best_total);
  std::printf("floor (read and outline every test file once): %.1f ms; selection / floor = %.2f\n", best_floor,
              best_selection / best_floor);
  std::printf("selection over an already filled cache: %.1f ms\n", best_warm);
  std::error_code ec;
  fs::remove_all(root, ec);
  return 0;
}
