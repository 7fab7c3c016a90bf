#include "impact/impact_report_json.hpp"

#include "json/writer.hpp"

namespace pindrel::impact {

namespace {

using json::field;
using json::Presence;

// A left-out `kind` is `test`, the default of the record.
constexpr auto impacted_test_record = json::record<ImpactedTest>(
    "ImpactedTest", {
                        field<&ImpactedTest::file>("file"),
                        field<&ImpactedTest::symbol>("symbol", Presence::optional),
                        field<&ImpactedTest::via>("via"),
                        field<&ImpactedTest::origin>("origin"),
                        field<&ImpactedTest::kind, deserialize_test_kind>("kind", Presence::defaulted),
                    });

constexpr auto ignored_symbol_record =
    json::record<IgnoredSymbol>("IgnoredSymbol", {
                                                     field<&IgnoredSymbol::symbol>("symbol"),
                                                     field<&IgnoredSymbol::file>("file"),
                                                     field<&IgnoredSymbol::ignored_by>("ignored_by"),
                                                 });

constexpr auto stats_record = json::record<Stats>("Stats", {
                                                               field<&Stats::seeds>("seeds"),
                                                               field<&Stats::visited>("visited"),
                                                               field<&Stats::max_depth_reached>("max_depth_reached"),
                                                               field<&Stats::qlo_calls>("qlo_calls"),
                                                               field<&Stats::duration_ms>("duration_ms"),
                                                           });

constexpr auto report_record = json::record<ImpactReport>(
    "ImpactReport", {
                        field<&ImpactReport::verdict, deserialize_verdict>("verdict"),
                        field<&ImpactReport::reason, deserialize_reason>("reason", Presence::optional),
                        field<&ImpactReport::base>("base"),
                        field<&ImpactReport::merge_base>("merge_base"),
                        field<&ImpactReport::impacted_tests, deserialize_impacted_tests>("impacted_tests"),
                        field<&ImpactReport::test_files_changed>("test_files_changed"),
                        field<&ImpactReport::ignored_symbols, deserialize_ignored_symbols>("ignored_symbols"),
                        field<&ImpactReport::ignored_paths>("ignored_paths"),
                        field<&ImpactReport::stats, deserialize_stats>("stats"),
                        field<&ImpactReport::errors>("errors"),
                    });

}  // namespace

std::string render_impact_report_json(const ImpactReport& report) {
  json::PrettyWriter writer;
  writer.begin_object().member("verdict", verdict_name(report.verdict)).key("reason");
  if (report.reason)
    writer.string(run_all_reason_name(*report.reason));
  else
    writer.null();
  writer.member("base", report.base).member("merge_base", report.merge_base).key("impacted_tests").begin_array();
  for (const ImpactedTest& test : report.impacted_tests) {
    writer.begin_object().member("file", test.file).key("symbol");
    if (test.symbol)
      writer.string(*test.symbol);
    else
      writer.null();
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
  return json::Reader::read_document(text, [](json::Reader& reader) { return reader.read_record(report_record); });
}

Result<Verdict> deserialize_verdict(json::Reader& reader) { return reader.read_enum<Verdict>(verdict_names); }

Result<std::optional<RunAllReason>> deserialize_reason(json::Reader& reader) {
  auto null = reader.read_null();
  if (!null) return std::unexpected(std::move(null.error()));
  if (*null) return std::optional<RunAllReason>();
  RunAllReason reason{};
  auto read = reader.read_variant_with(
      [&](std::string_view name) { return json::store(reason, run_all_reason_from_name(name)); });
  if (!read) return std::unexpected(std::move(read.error()));
  return reason;
}

Result<TestKind> deserialize_test_kind(json::Reader& reader) { return reader.read_enum<TestKind>(test_kind_names); }

Result<std::vector<ImpactedTest>> deserialize_impacted_tests(json::Reader& reader) {
  return reader.read_list<ImpactedTest>([](json::Reader& r) { return r.read_record(impacted_test_record); });
}

Result<std::vector<IgnoredSymbol>> deserialize_ignored_symbols(json::Reader& reader) {
  return reader.read_list<IgnoredSymbol>([](json::Reader& r) { return r.read_record(ignored_symbol_record); });
}

Result<Stats> deserialize_stats(json::Reader& reader) { return reader.read_record(stats_record); }

}  // namespace pindrel::impact
