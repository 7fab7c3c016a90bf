// The measuring half of bench/run: each subcommand times one side of one figure inside its
// own process, so that reading inputs and starting up stay out of the figure, and prints the
// milliseconds of processor time it took (user and system, its child processes included) on
// standard output. On a shared machine processor time is far steadier than the wall clock.
//   bench_tool parse LIST        bare tree-sitter parse of the files in LIST (parser made once)
//   bench_tool outline LIST      the program's outline of the same files
//   bench_tool commands FILE DIR the command lines of FILE (a JSON array of argument vectors), in DIR
//   bench_tool spawn N ARGV...   ARGV run N times; the time is per run
//   bench_tool usage ARGV...     ARGV run once; prints its processor time and, after a blank, its
//                                peak resident set in MB (its own or its largest child's)
//   bench_tool refs-read FILE N  the program's reading of a `qlo refs` answer of N results
//   bench_tool refs-dom FILE     nlohmann's parse of the same answer's JSON into its value tree
//   bench_tool select DIR REPORT the file listing of the repository DIR and the selection from the
//                                impact report REPORT (JSON)
//   bench_tool select-floor DIR  the same listing, then every test file read and outlined once
//   bench_tool fit N             the argument-limit check of N node ids (ten per file) and their
//                                fold into whole files, against this process's limit and environment

#include "impact/impact_report_json.hpp"
#include "impact/source_cache.hpp"
#include "project/git.hpp"
#include "project/modpath.hpp"
#include "pysource/outline.hpp"
#include "qlo/client.hpp"
#include "run/pytest_command.hpp"
#include "run/selection.hpp"
#include "util/path_search.hpp"
#include "util/process.hpp"

#include <nlohmann/json.hpp>
#include <tree_sitter/api.h>

#include <sys/resource.h>

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <sstream>
#include <string>
#include <string_view>
#include <vector>

extern "C" const TSLanguage* tree_sitter_python();

namespace {

// Processor time used so far by this process and the children it has waited for.
double cpu_ms() {
  double total = 0;
  for (const int who : {RUSAGE_SELF, RUSAGE_CHILDREN}) {
    rusage usage{};
    getrusage(who, &usage);
    for (const timeval& t : {usage.ru_utime, usage.ru_stime}) total += t.tv_sec * 1e3 + t.tv_usec / 1e3;
  }
  return total;
}

std::string read_whole(const std::string& path) {
  std::ifstream file(path, std::ios::binary);
  std::stringstream text;
  text << file.rdbuf();
  return text.str();
}

std::vector<std::string> read_listed(const std::string& list) {
  std::vector<std::string> texts;
  std::ifstream paths(list);
  for (std::string path; std::getline(paths, path);) texts.push_back(read_whole(path));
  return texts;
}

[[noreturn]] void fail(const std::string& message) {
  std::fprintf(stderr, "bench_tool: %s\n", message.c_str());
  std::exit(2);
}

template <class F>
void print_elapsed(F&& work, int runs = 1) {
  const double start = cpu_ms();
  for (int i = 0; i < runs; ++i) work();
  std::printf("%.3f\n", (cpu_ms() - start) / runs);
}

void bare_parse(const std::vector<std::string>& texts) {
  TSParser* parser = ts_parser_new();
  ts_parser_set_language(parser, tree_sitter_python());
  print_elapsed([&] {
    for (const std::string& text : texts) {
      TSTree* tree = ts_parser_parse_string_encoding(parser, nullptr, text.data(),
                                                     static_cast<std::uint32_t>(text.size()), TSInputEncodingUTF8);
      if (!tree) fail("no tree");
      ts_tree_delete(tree);
    }
  });
  ts_parser_delete(parser);
}

void outline(const std::vector<std::string>& texts) {
  print_elapsed([&] {
    for (const std::string& text : texts) {
      if (!pindrel::pysource::outline_python_source(text)) fail("no outline");
    }
  });
}

void commands(const std::string& file, const std::string& dir) {
  std::vector<pindrel::Command> list;
  for (const auto& argv : nlohmann::json::parse(read_whole(file))) list.push_back({argv, dir});
  print_elapsed([&] {
    for (const auto& command : list) {
      if (!pindrel::run_captured(command)) fail("cannot start " + command.argv[0]);
    }
  });
}

void spawn(int runs, std::vector<std::string> argv) {
  const pindrel::Command command{std::move(argv), {}};
  print_elapsed(
      [&] {
        if (!pindrel::run_captured(command)) fail("cannot start " + command.argv[0]);
      },
      runs);
}

void usage(std::vector<std::string> argv) {
  const pindrel::Command command{std::move(argv), {}};
  const double start = cpu_ms();
  auto finished = pindrel::run_captured(command);
  if (!finished) fail("cannot start " + command.argv[0]);
  if (!finished->status.success()) fail(command.argv[0] + " ended with " + pindrel::to_text(finished->status));
  rusage children{};
  getrusage(RUSAGE_CHILDREN, &children);
  std::printf("%.3f %.1f\n", cpu_ms() - start, static_cast<double>(children.ru_maxrss) / 1024);
}

void refs_read(const std::string& text, std::size_t results) {
  print_elapsed([&] {
    auto answers = pindrel::parse_qlo_refs_output(text, results);
    if (!answers) fail(answers.error().render());
  });
}

void refs_dom(const std::string& text) {
  const std::string_view json_text = std::string_view(text).substr(text.find('['));
  print_elapsed([&] {
    auto value = nlohmann::json::parse(json_text);
    if (!value.is_array()) fail("not an array");
  });
}

pindrel::GitHandle git_in(const std::string& dir) {
  auto git = pindrel::find_on_path("git", pindrel::PathSearch::from_process());
  if (!git) fail(git.error().render());
  return {*git, dir};
}

std::vector<std::string> listed_files(const pindrel::GitHandle& git) {
  auto listed = pindrel::list_repository_files(git, std::nullopt);
  if (!listed) fail(listed.error().render());
  return std::move(*listed);
}

void selection(const std::string& dir, const std::string& report_path) {
  const auto report = pindrel::impact::parse_impact_report(read_whole(report_path));
  if (!report) fail(report.error().render());
  const pindrel::GitHandle git = git_in(dir);
  print_elapsed([&] {
    pindrel::impact::SourceCache cache = pindrel::impact::new_source_cache(dir, listed_files(git));
    if (pindrel::run::build_selection(*report, cache).node_ids.empty()) fail("nothing selected");
  });
}

void selection_floor(const std::string& dir) {
  const pindrel::GitHandle git = git_in(dir);
  print_elapsed([&] {
    pindrel::impact::SourceCache cache = pindrel::impact::new_source_cache(dir, listed_files(git));
    for (const auto& path : cache.python_files) {
      if (!pindrel::is_test_file(path, cache.root)) continue;
      auto source = pindrel::impact::read_source_cached(cache, path);
      if (!source || !*source || !pindrel::impact::cached_outline(**source)) fail("cannot outline " + path.native());
    }
  });
}

void fit(std::size_t count) {
  pindrel::run::Selection selection;
  selection.decision = pindrel::run::Decision::selected;
  for (std::size_t i = 0; i < count; ++i) {
    selection.node_ids.push_back({"tests/integration/pkg_" + std::to_string(i / 10) +
                                      "/test_module_name.py::TestSomething::test_case_" + std::to_string(i),
                                  {},
                                  "a:b"});
  }
  std::sort(selection.node_ids.begin(), selection.node_ids.end(),
            [](const auto& a, const auto& b) { return a.node_id < b.node_id; });
  print_elapsed([&] {
    pindrel::run::fit_selection_to_exec_limit(selection, {"/usr/bin/python3", "-m", "pytest"}, {"-q"}, {},
                                              pindrel::exec_size_limit());
  });
  if (selection.fit != pindrel::run::ArgvFit::whole_files) fail("the node ids were not folded into whole files");
}

}  // namespace

int main(int argc, char** argv) {
  const std::vector<std::string> args(argv + 1, argv + argc);
  const std::string_view mode = args.empty() ? "" : args[0];
  if (mode == "parse" && args.size() == 2)
    bare_parse(read_listed(args[1]));
  else if (mode == "outline" && args.size() == 2)
    outline(read_listed(args[1]));
  else if (mode == "commands" && args.size() == 3)
    commands(args[1], args[2]);
  else if (mode == "spawn" && args.size() >= 3)
    spawn(std::atoi(args[1].c_str()), {args.begin() + 2, args.end()});
  else if (mode == "usage" && args.size() >= 2)
    usage({args.begin() + 1, args.end()});
  else if (mode == "refs-read" && args.size() == 3)
    refs_read(read_whole(args[1]), std::stoul(args[2]));
  else if (mode == "refs-dom" && args.size() == 2)
    refs_dom(read_whole(args[1]));
  else if (mode == "select" && args.size() == 3)
    selection(args[1], args[2]);
  else if (mode == "select-floor" && args.size() == 2)
    selection_floor(args[1]);
  else if (mode == "fit" && args.size() == 2)
    fit(std::stoul(args[1]));
  else
    fail("usage: see the head of bench/bench_tool.cpp");
  return 0;
}
