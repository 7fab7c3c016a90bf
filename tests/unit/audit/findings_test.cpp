#include "audit/findings.hpp"

#include <gtest/gtest.h>

namespace pindrel {
namespace {

DocumentSymbol symbol(std::string name, DocumentSymbolKind kind, std::uint32_t line, std::uint32_t character,
                      std::vector<DocumentSymbol> children = {}) {
  const Range at{{line, character}, {line, character + 1}};
  return {std::move(name), kind, at, at, std::move(children)};
}

TEST(AuditCandidates, PublicFunctionsAndMethodsInPreOrder) {
  using K = DocumentSymbolKind;
  const std::vector<DocumentSymbol> answer = {
      symbol("Service", K::Class, 0, 6,
             {symbol("start", K::Method, 1, 8), symbol("_stop", K::Method, 3, 8),
              symbol("Inner", K::Class, 5, 10, {symbol("run", K::Method, 6, 12)}), symbol("name", K::Property, 8, 8)}),
      symbol("_Private", K::Class, 10, 6, {symbol("go", K::Method, 11, 8)}),
      symbol("_helper", K::Function, 13, 4, {symbol("inner", K::Function, 14, 8)}),
      symbol("__init__", K::Function, 16, 4),
      symbol("VERSION", K::Constant, 18, 0),
      symbol("main", K::Function, 20, 4),
  };
  std::vector<AuditCandidate> out;
  for (const auto& s : answer) collect_audit_candidates(s, std::nullopt, out);
  const std::vector<AuditCandidate> expected = {
      {"Service.start", 2, 9, K::Method}, {"Service.Inner.run", 7, 13, K::Method},
      {"_Private.go", 12, 9, K::Method},  {"_helper.inner", 15, 9, K::Function},
      {"main", 21, 5, K::Function},
  };
  EXPECT_EQ(out, expected);
}

Reference ref(std::string file, std::uint32_t line) { return {std::move(file), line, 1, ""}; }

AuditSubject subject(std::string qualname, std::uint32_t line, ReferencesResult answer,
                     std::vector<std::string> decorators = {}, std::vector<std::string> bases = {}) {
  return {std::move(qualname), line, DocumentSymbolKind::Function, std::move(answer), std::move(decorators),
          std::move(bases)};
}

ReferencesResult listed(std::vector<Reference> references, std::vector<Reference> test_references = {}) {
  ReferencesResult r;
  r.reference_count = references.size();
  r.test_reference_count = test_references.size();
  r.references = std::move(references);
  r.test_references = std::move(test_references);
  return r;
}

ReferencesResult counted(std::uint64_t references, std::uint64_t tests) {
  ReferencesResult r;
  r.reference_count = references;
  r.test_reference_count = tests;
  return r;
}

std::vector<AuditFinding> judge(const std::vector<AuditSubject>& subjects,
                                std::filesystem::path file = "src/app/jobs.py") {
  AuditSubjects pending(subjects, std::move(file), "/repo");
  std::vector<AuditFinding> out;
  while (auto finding = next_audit_finding(pending)) out.push_back(std::move(*finding));
  return out;
}

TEST(AuditFindings, Verdicts) {
  struct Case {
    const char* what;
    AuditSubject subject;
    std::optional<Severity> severity;
    std::string message;
  };
  const Case cases[] = {
      {"only its own definition", subject("cleanup", 42, listed({ref("src/app/jobs.py", 42)})), Severity::warn,
       "`cleanup` has no references"},
      {"own line, other spelling of the same path", subject("cleanup", 42, listed({ref("src//app/jobs.py", 42)})),
       Severity::warn, "`cleanup` has no references"},
      {"own line under an absolute path counts", subject("cleanup", 42, listed({ref("/repo/src/app/jobs.py", 42)})),
       std::nullopt, ""},
      {"own line written ./", subject("cleanup", 42, listed({ref("./src/app/jobs.py", 42)})), std::nullopt, ""},
      {"same line in another file", subject("cleanup", 42, listed({ref("src/app/other.py", 42)})), std::nullopt, ""},
      {"nothing listed, nothing counted", subject("cleanup", 42, {}), Severity::warn, "`cleanup` has no references"},
      {"one test reference", subject("cleanup", 42, listed({}, {ref("tests/test_jobs.py", 3)})), Severity::note,
       "`cleanup` is referenced only from tests (1)"},
      {"test-named file outside tests, from the references list",
       subject("cleanup", 42, listed({ref("/repo/pkg/test_x.py", 3), ref("pkg/x_test.py", 9)})), Severity::note,
       "`cleanup` is referenced only from tests (2)"},
      {"a test_references entry that is no test file", subject("cleanup", 42, listed({}, {ref("pkg/util.py", 3)})),
       std::nullopt, ""},
      {"counts beyond the lists decide",
       subject("cleanup", 42,
               [] {
                 auto r = listed({ref("tests/test_jobs.py", 1)});
                 r.reference_count = 3;
                 return r;
               }()),
       std::nullopt, ""},
      {"only test counts, no sites", subject("cleanup", 42, counted(0, 2)), Severity::note,
       "`cleanup` is referenced only from tests (2)"},
      {"transparent decorators are judged", subject("cleanup", 42, {}, {"functools.wraps", "staticmethod"}),
       Severity::warn, "`cleanup` has no references"},
      {"a registering decorator hides callers", subject("cleanup", 42, {}, {"staticmethod", "app.route"}), std::nullopt,
       ""},
      {"setUp of a TestCase", subject("Case.setUp", 42, {}, {}, {"unittest.TestCase"}), std::nullopt, ""},
      {"setUp of a class based on object", subject("Case.setUp", 42, {}, {}, {"builtins.object", "object"}),
       Severity::warn, "`Case.setUp` has no references"},
      {"setUp of a class without bases", subject("Case.setUp", 42, {}), Severity::warn,
       "`Case.setUp` has no references"},
      {"an ordinary method of a based class", subject("Case.tidy", 42, {}, {}, {"Base"}), Severity::warn,
       "`Case.tidy` has no references"},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.what);
    const auto findings = judge({c.subject});
    if (!c.severity) {
      EXPECT_TRUE(findings.empty());
      continue;
    }
    ASSERT_EQ(findings.size(), 1u);
    EXPECT_EQ(findings[0].severity, *c.severity);
    EXPECT_EQ(findings[0].message, c.message);
    EXPECT_EQ(findings[0].symbol, c.subject.qualname);
    EXPECT_EQ(findings[0].file, "src/app/jobs.py");
    EXPECT_EQ(findings[0].line, 42u);
  }
}

TEST(AuditFindings, SubjectsWithoutFindingArePassedOver) {
  const auto findings =
      judge({subject("a", 1, {}), subject("b", 2, listed({ref("pkg/x.py", 5)})), subject("c", 3, counted(0, 1))});
  ASSERT_EQ(findings.size(), 2u);
  EXPECT_EQ(findings[0].symbol, "a");
  EXPECT_EQ(findings[1].symbol, "c");
}

AuditReport sample_report() {
  AuditReport report;
  report.files = {"src/app/jobs.py", "lib.py"};
  report.symbols_checked = 7;
  report.findings = {
      {"cleanup", "/ws/src/app/jobs.py", "`cleanup` has no references", 42, Severity::warn,
       DocumentSymbolKind::Function},
      {"Job.run", "lib.py", "`Job.run` is referenced only from tests (1)", 3, Severity::note,
       DocumentSymbolKind::Method},
  };
  return report;
}

TEST(AuditReportText, FindingLinesAndSummary) {
  auto text = write_audit_report(sample_report(), OutputFormat::human, "/ws");
  ASSERT_TRUE(text) << text.error().render();
  EXPECT_EQ(*text,
            "warn  src/app/jobs.py:42  func `cleanup` has no references\n"
            "note  lib.py:3  method `Job.run` is referenced only from tests (1)\n"
            "\n"
            "2 file(s), 7 symbol(s) checked — 1 warn, 1 note\n");
}

TEST(AuditReportText, NoFindings) {
  AuditReport report;
  report.files = {"a.py"};
  report.symbols_checked = 3;
  auto text = write_audit_report(report, OutputFormat::human, "/ws");
  ASSERT_TRUE(text);
  EXPECT_EQ(*text, "No findings.\n\n1 file(s), 3 symbol(s) checked — 0 warn, 0 note\n");
}

TEST(AuditReportText, PlaceShowsInvalidUtf8Replaced) {
  AuditReport report;
  report.files = {"x"};
  report.findings = {{"f", "/ws/b\xFFz.py", "`f` has no references", 1, Severity::warn, DocumentSymbolKind::Function}};
  auto text = write_audit_report(report, OutputFormat::human, "/ws");
  ASSERT_TRUE(text);
  EXPECT_EQ(text->substr(0, text->find('\n')), "warn  b\xEF\xBF\xBDz.py:1  func `f` has no references");
}

TEST(AuditReportJson, KeysInOrderAndFileAsGiven) {
  auto text = write_audit_report(sample_report(), OutputFormat::json, "/ws");
  ASSERT_TRUE(text);
  EXPECT_EQ(*text, R"json({
  "files": [
    "src/app/jobs.py",
    "lib.py"
  ],
  "symbols_checked": 7,
  "findings": [
    {
      "symbol": "cleanup",
      "kind": "Function",
      "file": "/ws/src/app/jobs.py",
      "line": 42,
      "severity": "warn",
      "message": "`cleanup` has no references"
    },
    {
      "symbol": "Job.run",
      "kind": "Method",
      "file": "lib.py",
      "line": 3,
      "severity": "note",
      "message": "`Job.run` is referenced only from tests (1)"
    }
  ]
})json");
}

TEST(AuditReportJson, EmptyFindingsAndInvalidUtf8File) {
  AuditReport report;
  auto text = write_audit_report(report, OutputFormat::json, "/ws");
  ASSERT_TRUE(text);
  EXPECT_EQ(*text, "{\n  \"files\": [],\n  \"symbols_checked\": 0,\n  \"findings\": []\n}");

  report.findings = {{"f", "b\xFF.py", "m", 1, Severity::warn, DocumentSymbolKind::Function}};
  auto failed = write_audit_report(report, OutputFormat::json, "/ws");
  ASSERT_FALSE(failed);
  EXPECT_EQ(failed.error().render(), "path contains invalid UTF-8 characters");
  EXPECT_TRUE(write_audit_report(report, OutputFormat::human, "/ws"));
}

}  // namespace
}  // namespace pindrel
