#include "impact/impact_report_json.hpp"

#include "json/writer.hpp"

#include <array>

namespace pindrel::impact {

namespace {

using json::Field;
using json::Presence;

constexpr std::array<Field, 10> report_fields = {{
    {"verdict"},
    {"reason", Presence::optional},
    {"base"},
    {"merge_base"},
    {"impacted_tests"},
    {"test_files_changed"},
    {"ignored_symbols"},
    {"ignored_paths"},
    {"stats"},
    {"errors"},
}};

constexpr std::array<Field, 5> impacted_test_fields = {{
    {"file"},
    {"symbol", Presence::optional},
    {"via"},
    {"origin"},
    {"kind", Presence::defaulted},
}};

constexpr std::array<Field, 3> ignored_symbol_fields = {{{"symbol"}, {"file"}, {"ignored_by"}}};

constexpr std::array<Field, 5> stats_fields = {{
    {"seeds"},
    {"visited"},
    {"max_depth_reached"},
    {"qlo_calls"},
    {"duration_ms"},
}};

Result<ImpactedTest> deserialize_impacted_test(json::Reader& reader) {
  ImpactedTest test;  // a left-out `kind` is `test`
  auto read = reader.read_record({"ImpactedTest", impacted_test_fields}, [&](std::size_t field) -> Result<void> {
    switch (field) {
      case 0: return json::store(test.file, reader.read_string());
      case 1:
        return json::store(test.symbol,
                           reader.read_optional<std::string>([](json::Reader& r) { return r.read_string(); }));
      case 2: return json::store(test.via, reader.read_strings());
      case 3: return json::store(test.origin, reader.read_string());
      default: return json::store(test.kind, deserialize_test_kind(reader));
    }
  });
  if (!read) return std::unexpected(std::move(read.error()));
  return test;
}

Result<IgnoredSymbol> deserialize_ignored_symbol(json::Reader& reader) {
  IgnoredSymbol ignored;
  auto read = reader.read_record({"IgnoredSymbol", ignored_symbol_fields}, [&](std::size_t field) {
    std::string& target = field == 0 ? ignored.symbol : field == 1 ? ignored.file : ignored.ignored_by;
    return json::store(target, reader.read_string());
  });
  if (!read) return std::unexpected(std::move(read.error()));
  return ignored;
}

Result<ImpactReport> deserialize_impact_report(json::Reader& reader) {
  ImpactReport report;
  auto read = reader.read_record({"ImpactReport", report_fields}, [&](std::size_t field) -> Result<void> {
    switch (field) {
      case 0: return json::store(report.verdict, deserialize_verdict(reader));
      case 1: return json::store(report.reason, deserialize_reason(reader));
      case 2: return json::store(report.base, reader.read_string());
      case 3: return json::store(report.merge_base, reader.read_string());
      case 4: return json::store(report.impacted_tests, deserialize_impacted_tests(reader));
      case 5: return json::store(report.test_files_changed, reader.read_strings());
      case 6: return json::store(report.ignored_symbols, deserialize_ignored_symbols(reader));
      case 7: return json::store(report.ignored_paths, reader.read_strings());
      case 8: return json::store(report.stats, deserialize_stats(reader));
      default: return json::store(report.errors, reader.read_strings());
    }
  });
  if (!read) return std::unexpected(std::move(read.error()));
  return report;
}

}  // namespace

std::string render_impact_report_json(const ImpactReport& report) {
  json::PrettyWriter writer;
  writer.begin_object().member("verdict", verdict_name(report.verdict)).key("reason");
  if (report.reason) writer.string(run_all_reason_name(*report.reason));
  else writer.null();
  writer.member("base", report.base).member("merge_base", report.merge_base).key("impacted_tests").begin_array();
  for (const ImpactedTest& test : report.impacted_tests) {
    writer.begin_object().member("file", test.file).key("symbol");
    if (test.symbol) writer.string(*test.symbol);
    else writer.null();
    writer.strings("via", test.via)
        .member("origin", test.origin)
        .member("kind", test_kind_name(test.kind))
        .end_object();
  }
  writer.end_array().strings("test_files_changed", report.test_files_changed).key("ignored_symbols").begin_array();
  for (const IgnoredSymbol& ignored : report.ignored_symbols) {
    writer.begin_object()
        .member("symbol", ignored.symbol)
        .member("file", ignored.file)
        .member("ignored_by", ignored.ignored_by)
        .end_object();
  }
  const Stats& stats = report.stats;
  writer.end_array()
      .strings("ignored_paths", report.ignored_paths)
      .key("stats")
      .begin_object()
      .key("seeds")
      .number(stats.seeds)
      .key("visited")
      .number(stats.visited)
      .key("max_depth_reached")
      .number(stats.max_depth_reached)
      .key("qlo_calls")
      .number(stats.qlo_calls)
      .key("duration_ms")
      .number(stats.duration_ms)
      .end_object()
      .strings("errors", report.errors)
      .end_object();
  return std::move(writer).take();
}

Result<ImpactReport> parse_impact_report(std::string_view text) {
  return json::Reader::read_document(text, deserialize_impact_report);
}

Result<Verdict> deserialize_verdict(json::Reader& reader) { return reader.read_enum<Verdict>(verdict_names); }

Result<std::optional<RunAllReason>> deserialize_reason(json::Reader& reader) {
  auto null = reader.read_null();
  if (!null) return std::unexpected(std::move(null.error()));
  if (*null) return std::optional<RunAllReason>();
  RunAllReason reason{};
  auto read = reader.read_variant_with([&](std::string_view name) { return json::store(reason, run_all_reason_from_name(name)); });
  if (!read) return std::unexpected(std::move(read.error()));
  return reason;
}

Result<TestKind> deserialize_test_kind(json::Reader& reader) { return reader.read_enum<TestKind>(test_kind_names); }

Result<std::vector<ImpactedTest>> deserialize_impacted_tests(json::Reader& reader) {
  return reader.read_list<ImpactedTest>(deserialize_impacted_test);
}

Result<std::vector<IgnoredSymbol>> deserialize_ignored_symbols(json::Reader& reader) {
  return reader.read_list<IgnoredSymbol>(deserialize_ignored_symbol);
}

Result<Stats> deserialize_stats(json::Reader& reader) {
  Stats stats;
  auto read = reader.read_record({"Stats", stats_fields}, [&](std::size_t field) -> Result<void> {
    switch (field) {
      case 0: return json::store(stats.seeds, reader.read_u64());
      case 1: return json::store(stats.visited, reader.read_u64());
      case 2: return json::store(stats.max_depth_reached, reader.read_u32());
      case 3: return json::store(stats.qlo_calls, reader.read_u64());
      default: return json::store(stats.duration_ms, reader.read_u128());
    }
  });
  if (!read) return std::unexpected(std::move(read.error()));
  return stats;
}

}  // namespace pindrel::impact
