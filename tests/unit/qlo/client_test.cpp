#include "qlo/client.hpp"
#include "scratch.hpp"

#include <gtest/gtest.h>

#include <unistd.h>

#include <fstream>
#include <iterator>
#include <string>

namespace pindrel {
namespace {

TEST(ResolveQlo, EnvironmentValueIsTakenUnchecked) {
  for (const char* value : {"", "qlo-nowhere", "/no/such/qlo"}) {
    SCOPED_TRACE(value);
    Environment env;
    env.pindrel_qlo = value;
    auto client = resolve_qlo("/ws", env);
    ASSERT_TRUE(client) << client.error().render();
    EXPECT_EQ(client->path, value);
    EXPECT_EQ(client->root, "/ws");
  }
}

TEST(ResolveQlo, NotFoundOnPath) {
  Environment env;
  env.path_search.path = "/nonexistent-dir";
  auto client = resolve_qlo("/ws", env);
  ASSERT_FALSE(client);
  EXPECT_EQ(client.error().render(),
            "`qlo` not found on PATH. Install it with `uv add --dev quillo`, or point PINDREL_QLO at the binary.: "
            "cannot find binary path");
}

TEST(ResolveQlo, FoundOnPath) {
  const test_support::ScratchDir scratch;
  const std::filesystem::path& dir = scratch.path();
  test_support::write_file(dir / "qlo", "#!/bin/sh\n", test_support::FileMode::executable);
  Environment env;
  env.path_search.path = "/nonexistent-dir:" + dir.string();
  auto client = resolve_qlo("/ws", env);
  ASSERT_TRUE(client) << client.error().render();
  EXPECT_EQ(client->path, dir / "qlo");
}

TEST(CheckQloOutput, FailuresInOrder) {
  struct Case {
    const char* what;
    Result<Finished> outcome;
    std::string rendered;
  };
  const Case cases[] = {
      {"not started", std::unexpected(Error::from_errno(ENOENT)),
       "failed to spawn `/bin/q\xEF\xBF\xBD`: No such file or directory (os error 2)"},
      {"stopped at the deadline", Finished{ExitStatus::killed_by(9), "[]", "", true},
       "`/bin/q\xEF\xBF\xBD` was still running at the deadline"},
      {"exit code with trimmed stderr", Finished{ExitStatus::exited(3), "[]", "\n  boom \xFF\n\n"},
       "`/bin/q\xEF\xBF\xBD` exited with exit status: 3: boom \xEF\xBF\xBD"},
      {"exit code 1 without stderr", Finished{ExitStatus::exited(1), "", ""},
       "`/bin/q\xEF\xBF\xBD` exited with exit status: 1: "},
      {"signal", Finished{ExitStatus::killed_by(9), "", "killed"},
       "`/bin/q\xEF\xBF\xBD` exited with signal: 9 (SIGKILL): killed"},
      {"core dump", Finished{ExitStatus::killed_by(11, CoreDump::yes), "", ""},
       "`/bin/q\xEF\xBF\xBD` exited with signal: 11 (SIGSEGV) (core dumped): "},
      {"bad byte", Finished{ExitStatus::exited(0), "[\xFF]", ""},
       "`qlo` produced output that was not valid UTF-8: invalid utf-8 sequence of 1 bytes from index 1"},
      {"bad continuation", Finished{ExitStatus::exited(0), "ab\xE2\x82x", ""},
       "`qlo` produced output that was not valid UTF-8: invalid utf-8 sequence of 2 bytes from index 2"},
      {"cut short", Finished{ExitStatus::exited(0), "abc\xF0\x9F\x98", ""},
       "`qlo` produced output that was not valid UTF-8: incomplete utf-8 byte sequence from index 3"},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.what);
    auto text = check_qlo_output("/bin/q\xFF", c.outcome);
    ASSERT_FALSE(text);
    EXPECT_EQ(text.error().render(), c.rendered);
  }
  auto ok = check_qlo_output("qlo", Finished{ExitStatus::exited(0), "caf\xC3\xA9 []", "warnings are dropped"});
  ASSERT_TRUE(ok);
  EXPECT_EQ(*ok, "caf\xC3\xA9 []");
}

TEST(FindJsonStart, SkipsBannersAndTrimsTheEnd) {
  struct Case {
    std::string_view text;
    std::string_view json;
  };
  const Case cases[] = {
      {"[]", "[]"},
      {"Indexing 3 files...\n[1, 2]\n", "[1, 2]"},
      {"ready {\"a\": 1}  \t\n", "{\"a\": 1}"},
      {"[]\xE3\x80\x80\xC2\xA0\n", "[]"},  // white space beyond ASCII
      {"note: x\n[INFO] y\n[]", "[INFO] y\n[]"},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(std::string(c.text));
    auto json = find_json_start(c.text);
    ASSERT_TRUE(json) << json.error().render();
    EXPECT_EQ(*json, c.json);
  }
  auto none = find_json_start("\n  daemon not running\n\n");
  ASSERT_FALSE(none);
  EXPECT_EQ(none.error().render(), "no JSON found in `qlo` output: daemon not running");
}

TEST(SymbolKindFromLsp, Numbers) {
  using K = DocumentSymbolKind;
  const std::pair<int, K> cases[] = {{5, K::Class},     {6, K::Method},    {7, K::Property}, {12, K::Function},
                                     {13, K::Variable}, {14, K::Constant}, {8, K::Other},    {9, K::Other},
                                     {0, K::Other},     {255, K::Other}};
  for (const auto& [number, kind] : cases) {
    SCOPED_TRACE(number);
    EXPECT_EQ(symbol_kind_from_lsp(static_cast<std::uint8_t>(number)), kind);
  }
}

TEST(RunQloRefs, NoTargetsStartNoProcess) {
  const QloClient client{"/no/such/qlo", "/no/such/dir"};
  auto answers = run_qlo_refs(client, {});
  ASSERT_TRUE(answers) << answers.error().render();
  EXPECT_TRUE(answers->empty());
}

}  // namespace
}  // namespace pindrel

namespace pindrel {
namespace {

TEST(ParseReferencesResult, LenientRecordReading) {
  auto full = parse_references_result(R"(loading
{"symbol": "pkg.mod:f", "unknown": {"deep": [1, {"x": null}]}, "reference_count": 2,
 "references": [{"file": "a.py", "line": 3, "column": 7, "context": "return f"}, ["b.py", 9, 1]],
 "test_reference_count": 0, "test_references": []}
)");
  ASSERT_TRUE(full) << full.error().render();
  EXPECT_EQ(full->symbol, "pkg.mod:f");
  EXPECT_EQ(full->reference_count, 2u);
  const std::vector<Reference> expected = {{"a.py", 3, 7, "return f"}, {"b.py", 9, 1, ""}};
  EXPECT_EQ(full->references, expected);

  auto bare = parse_references_result(R"({"symbol": "f"})");
  ASSERT_TRUE(bare);
  EXPECT_EQ(*bare, (ReferencesResult{"f", 0, {}, 0, {}}));

  auto array_form = parse_references_result(R"(["f", 1, [["a.py", 1, 2, "c"]]])");
  ASSERT_TRUE(array_form) << array_form.error().render();
  EXPECT_EQ(array_form->references.size(), 1u);
}

TEST(ParseReferencesResult, Messages) {
  struct Case {
    std::string_view text;
    std::string rendered;
  };
  const std::string context = "could not parse `qlo refs` JSON: ";
  const Case cases[] = {
      {R"({"reference_count": 1})", context + "missing field `symbol` at line 1 column 22"},
      {R"({"symbol": "a", "symbol": "b"})", context + "duplicate field `symbol` at line 1 column 24"},
      {R"({"symbol": "a", "references": null})",
       context + "invalid type: null, expected a sequence at line 1 column 34"},
      {R"({"symbol": "a", "references": [["a.py", 1]]})",
       context + "invalid length 2, expected struct Reference with 4 elements at line 1 column 42"},
      {R"({"symbol": "a", "references": [["a.py", 1, 2, "c", 5]]})",
       context + "trailing characters at line 1 column 52"},
      {R"({"symbol": "a", "references": ["a.py"]})",
       context + "invalid type: string \"a.py\", expected struct Reference at line 1 column 37"},
      {R"({"symbol": "a", "reference_count": -1})",
       context + "invalid value: integer `-1`, expected u64 at line 1 column 37"},
      {R"({"symbol": "a", "references": [{"file": "a.py", "line": 4294967296, "column": 1}]})",
       context + "invalid value: integer `4294967296`, expected u32 at line 1 column 66"},
      {R"([])", context + "invalid length 0, expected struct ReferencesResult with 5 elements at line 1 column 2"},
      {R"({"symbol": "a"} x)", context + "trailing characters at line 1 column 17"},
      {"no json", "no JSON found in `qlo` output: no json"},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(std::string(c.text));
    auto parsed = parse_references_result(c.text);
    ASSERT_FALSE(parsed);
    EXPECT_EQ(parsed.error().render(), c.rendered);
  }
}

TEST(ParseQloRefsOutput, ArrayOrSingleObjectAndTheCount) {
  auto two = parse_qlo_refs_output("Indexing...\n[{\"symbol\": \"a\"}, [\"b\"]]\n", 2);
  ASSERT_TRUE(two) << two.error().render();
  ASSERT_EQ(two->size(), 2u);
  EXPECT_EQ((*two)[1].symbol, "b");

  auto one = parse_qlo_refs_output("{\"symbol\": \"a\"}", 1);
  ASSERT_TRUE(one);
  EXPECT_EQ(one->size(), 1u);

  struct Case {
    std::string_view text;
    std::size_t targets;
    std::string rendered;
  };
  const Case cases[] = {
      {"{\"symbol\": \"a\"}", 2, "`qlo refs` answered 1 of 2 queries"},
      {"[]", 1, "`qlo refs` answered 0 of 1 queries"},
      {"[INFO] ready\n[{\"symbol\": \"a\"}]", 1,
       "could not parse `qlo refs` JSON array: expected value at line 1 column 2"},
      {"[{\"symbol\": \"a\"}]\ndone", 1,
       "could not parse `qlo refs` JSON array: trailing characters at line 2 column 1"},
      {"{\"symbol\": 1}", 1,
       "could not parse `qlo refs` JSON: invalid type: integer `1`, expected a string at line 1 column 12"},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(std::string(c.text));
    auto parsed = parse_qlo_refs_output(c.text, c.targets);
    ASSERT_FALSE(parsed);
    EXPECT_EQ(parsed.error().render(), c.rendered);
  }
}

TEST(ParseDocumentSymbols, TreesInEitherForm) {
  auto symbols = parse_document_symbols(R"([
  {"name": "Service", "kind": 5, "detail": "class Service",
   "range": {"start": {"line": 0, "character": 0}, "end": {"line": 9, "character": 0}},
   "selectionRange": [[0, 6], [0, 13]],
   "children": [["start", 6, [[1, 4], [2, 0]], [[1, 8], [1, 13]]]]},
  ["VERSION", 8, [[11, 0], [11, 7]], [[11, 0], [11, 7]]]
]
)");
  ASSERT_TRUE(symbols) << symbols.error().render();
  ASSERT_EQ(symbols->size(), 2u);
  const DocumentSymbol& service = (*symbols)[0];
  EXPECT_EQ(service.kind, DocumentSymbolKind::Class);
  EXPECT_EQ(service.selection_range, (Range{{0, 6}, {0, 13}}));
  ASSERT_EQ(service.children.size(), 1u);
  EXPECT_EQ(service.children[0].name, "start");
  EXPECT_EQ(service.children[0].kind, DocumentSymbolKind::Method);
  EXPECT_TRUE(service.children[0].children.empty());
  EXPECT_EQ((*symbols)[1].kind, DocumentSymbolKind::Other);
}

TEST(ParseDocumentSymbols, Messages) {
  const std::string range = R"({"start": {"line": 0, "character": 0}, "end": {"line": 0, "character": 1}})";
  auto with_kind = [&](std::string_view kind) {
    return R"([{"name": "f", "kind": )" + std::string(kind) + R"(, "range": )" + range + R"(, "selectionRange": )" +
           range + "}]";
  };
  struct Case {
    std::string text;
    std::string rendered;
  };
  const Case cases[] = {
      {R"({"name": "f"})", "invalid type: map, expected a sequence at line 1 column 0"},
      {with_kind("256"), "invalid value: integer `256`, expected u8 at line 1 column 26"},
      {with_kind("-1"), "invalid value: integer `-1`, expected u8 at line 1 column 25"},
      {with_kind("5.5"), "invalid type: floating point `5.5`, expected u8 at line 1 column 26"},
      {with_kind("\"5\""), "invalid type: string \"5\", expected u8 at line 1 column 26"},
      {R"([{"name": "f", "kind": 12, "range": )" + range + "}]", "missing field `selectionRange` at line 1 column 111"},
      {R"([{"name": "f", "kind": 12, "range": {"start": {"line": 0}, "end": [0, 0]}, "selectionRange": []}])",
       "missing field `character` at line 1 column 57"},
      {R"([["f", 12, [[0, 0]]]])", "invalid length 1, expected struct Range with 2 elements at line 1 column 19"},
      {R"([["f", 12, [[0, 0], [0]]]])",
       "invalid length 1, expected struct Position with 2 elements at line 1 column 23"},
      {R"([["f", 12]])", "invalid length 2, expected struct DocumentSymbol with 5 elements at line 1 column 10"},
      {R"([1])", "invalid type: integer `1`, expected struct DocumentSymbol at line 1 column 2"},
      {"[] x", "trailing characters at line 1 column 4"},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.text);
    auto parsed = parse_document_symbols(c.text);
    ASSERT_FALSE(parsed);
    EXPECT_EQ(parsed.error().render(), c.rendered);
  }
}

TEST(ParseDocumentSymbols, NestingBeyondTheReaderLimit) {
  std::string deep = "[";
  for (int i = 0; i < 70; ++i)
    deep += R"({"name": "f", "kind": 12, "range": [[0, 0], [0, 0]], "selectionRange": [[0, 0], [0, 0]], "children": [)";
  auto parsed = parse_document_symbols(deep);
  ASSERT_FALSE(parsed);
  EXPECT_NE(parsed.error().render().find("recursion limit exceeded"), std::string::npos) << parsed.error().render();
}

// A stand-in for the tool: a shell script that prints `answer` and records its arguments.
QloClient scripted_qlo(const test_support::ScratchDir& dir, std::string_view answer) {
  test_support::write_file(dir.path() / "answer.json", answer);
  test_support::write_file(dir.path() / "qlo",
                           "#!/bin/sh\nprintf '%s\\n' \"$PWD\" \"$@\" > args.txt\ncat answer.json\n",
                           test_support::FileMode::executable);
  return {dir.path() / "qlo", dir.path()};
}

TEST(ResolveReferencesBatch, SitesInAnswerOrderWithTheRootStripped) {
  const test_support::ScratchDir dir;
  const QloClient client = scripted_qlo(dir, R"([
  {"symbol": "ignored", "references": [{"file": "/repo/pkg/a.py", "line": 3, "column": 1},
                                       {"file": "/repository/a.py", "line": 4, "column": 1}],
   "test_references": [{"file": "tests/test_a.py", "line": 5, "column": 2}]},
  {"symbol": "same"}
])");
  const std::vector<SymbolQuery> level = {{"pkg.mod:f", "pkg/mod.py", 10, 5}, {"pkg.mod:f", "pkg/mod.py", 10, 5}};
  auto resolved = resolve_references_batch(client, "/repo", level);
  ASSERT_TRUE(resolved) << resolved.error().render();
  const std::vector<SymbolReferences> expected = {
      {"pkg.mod:f", {{"pkg/a.py", 3}, {"/repository/a.py", 4}, {"tests/test_a.py", 5}}},
      {"pkg.mod:f", {}},
  };
  EXPECT_EQ(*resolved, expected);
  std::ifstream args(dir.path() / "args.txt");
  const std::string recorded((std::istreambuf_iterator<char>(args)), std::istreambuf_iterator<char>());
  EXPECT_EQ(recorded, dir.path().string() +
                          "\n--format\njson\nrefs\npkg/mod.py:10:5\npkg/mod.py:10:5\n--tests\n--references-limit\n0\n");
}

TEST(ResolveReferencesBatch, FailuresNameEveryTarget) {
  const test_support::ScratchDir dir;
  const QloClient client = scripted_qlo(dir, R"({"symbol": "a"})");
  const std::vector<SymbolQuery> level = {{"m:a", "m.py", 1, 5}, {"m:b", "m.py", 4, 7}};
  auto resolved = resolve_references_batch(client, dir.path(), level);
  ASSERT_FALSE(resolved);
  EXPECT_EQ(resolved.error().render(),
            "could not resolve references for m.py:1:5, m.py:4:7: `qlo refs` answered 1 of 2 queries");
}

}  // namespace
}  // namespace pindrel
