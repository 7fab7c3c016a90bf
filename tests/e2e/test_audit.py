"""`pindrel audit FILE...` against the scripted reference tool."""

import json
import os

import pytest

CLASS, METHOD, PROPERTY, FUNCTION, VARIABLE = 5, 6, 7, 12, 13

JOBS = """\
import functools


def cleanup():
    pass


def helper():
    pass


def used():
    pass


class Job:
    def run(self):
        pass

    def _tick(self):
        pass
"""


def sym(name, kind, line, character, children=None):
    """A document symbol whose name starts at the 0-based line and character."""
    at = {"start": {"line": line, "character": character}, "end": {"line": line, "character": character + len(name)}}
    entry = {"name": name, "kind": kind, "range": at, "selectionRange": at}
    if children is not None:
        entry["children"] = children
    return entry


JOBS_SYMBOLS = [
    sym("functools", VARIABLE, 0, 7),
    sym("cleanup", FUNCTION, 3, 4),
    sym("helper", FUNCTION, 7, 4),
    sym("used", FUNCTION, 11, 4),
    sym("Job", CLASS, 15, 6, [sym("run", METHOD, 16, 8), sym("_tick", METHOD, 19, 8)]),
]

JOBS_TARGETS = ["src/app/jobs.py:4:5", "src/app/jobs.py:8:5", "src/app/jobs.py:12:5", "src/app/jobs.py:17:9"]


def refs(file, line):
    return {"file": file, "line": line, "column": 5, "context": "..."}


JOBS_ANSWERS = {
    "src/app/jobs.py:4:5": {"symbol": "cleanup", "reference_count": 1, "references": [refs("src/app/jobs.py", 4)]},
    "src/app/jobs.py:8:5": {
        "symbol": "helper",
        "test_reference_count": 1,
        "test_references": [refs("tests/test_jobs.py", 3)],
    },
    "src/app/jobs.py:12:5": {"symbol": "used", "reference_count": 1, "references": [refs("src/app/main.py", 9)]},
    "src/app/jobs.py:17:9": {"symbol": "Job.run", "reference_count": 0},
}

REFS_TAIL = ["--tests", "--references-limit", "0"]


@pytest.fixture
def workspace(tmp_path):
    root = (tmp_path / "ws").resolve()
    (root / "src" / "app").mkdir(parents=True)
    (root / "pyproject.toml").write_text("[project]\nname = 'ws'\n")
    (root / "src" / "app" / "jobs.py").write_text(JOBS)
    return root


def jobs_scenario():
    return {"list": {"files": {"src/app/jobs.py": {"json": JOBS_SYMBOLS}}}, "refs": {"targets": JOBS_ANSWERS}}


def test_findings_in_text_with_the_command_lines_given_to_the_tool(pindrel, workspace, fake_qlo):
    fake_qlo.set(jobs_scenario())
    result = pindrel("audit", "src/app/jobs.py", cwd=workspace, env=fake_qlo.env)
    assert result.err == ""
    assert result.out == (
        "warn  src/app/jobs.py:4  func `cleanup` has no references\n"
        "note  src/app/jobs.py:8  func `helper` is referenced only from tests (1)\n"
        "warn  src/app/jobs.py:17  method `Job.run` has no references\n"
        "\n"
        "1 file(s), 7 symbol(s) checked — 2 warn, 1 note\n"
    )
    assert result.status == 1
    assert fake_qlo.runs() == [
        {"argv": ["--format", "json", "list", "src/app/jobs.py"], "cwd": str(workspace)},
        {"argv": ["--format", "json", "refs", *JOBS_TARGETS, *REFS_TAIL], "cwd": str(workspace)},
    ]


def test_findings_in_json(pindrel, workspace, fake_qlo):
    fake_qlo.set(jobs_scenario())
    result = pindrel("--format", "json", "audit", "src/app/jobs.py", cwd=workspace, env=fake_qlo.env)
    assert result.status == 1, result
    assert not result.out.endswith("\n")
    report = json.loads(result.out)
    assert list(report) == ["files", "symbols_checked", "findings"]
    assert report["files"] == ["src/app/jobs.py"]
    assert report["symbols_checked"] == 7
    assert report["findings"][1] == {
        "symbol": "helper",
        "kind": "Function",
        "file": "src/app/jobs.py",
        "line": 8,
        "severity": "note",
        "message": "`helper` is referenced only from tests (1)",
    }
    assert [list(f) for f in report["findings"]] == [["symbol", "kind", "file", "line", "severity", "message"]] * 3
    assert [(f["symbol"], f["kind"], f["severity"]) for f in report["findings"]] == [
        ("cleanup", "Function", "warn"),
        ("helper", "Function", "note"),
        ("Job.run", "Method", "warn"),
    ]


def test_no_findings_exits_zero(pindrel, workspace, fake_qlo):
    fake_qlo.set(
        {
            "list": {"default": {"banner": "indexing...\n", "json": [sym("used", FUNCTION, 11, 4)]}},
            "refs": {"default": {"json": JOBS_ANSWERS["src/app/jobs.py:12:5"]}},
        }
    )
    result = pindrel("audit", "src/app/jobs.py", cwd=workspace, env=fake_qlo.env)
    assert (result.status, result.err) == (0, "")
    assert result.out == "No findings.\n\n1 file(s), 1 symbol(s) checked — 0 warn, 0 note\n"

    result = pindrel("--format", "json", "audit", "src/app/jobs.py", cwd=workspace, env=fake_qlo.env)
    assert result.status == 0
    assert json.loads(result.out) == {"files": ["src/app/jobs.py"], "symbols_checked": 1, "findings": []}


def test_file_without_candidates_starts_no_refs_run(pindrel, workspace, fake_qlo):
    symbols = [
        sym("Job", CLASS, 15, 6, [sym("_tick", METHOD, 19, 8), sym("name", PROPERTY, 20, 8)]),
        sym("_private", FUNCTION, 1, 4),
    ]
    fake_qlo.set({"list": {"default": {"json": symbols}}})
    result = pindrel("audit", "src/app/jobs.py", cwd=workspace, env=fake_qlo.env)
    assert result.status == 0, result
    assert result.out == "No findings.\n\n1 file(s), 4 symbol(s) checked — 0 warn, 0 note\n"
    assert [run["argv"][2] for run in fake_qlo.runs()] == ["list"]


def test_absolute_path_and_repeated_file(pindrel, workspace, fake_qlo):
    absolute = str(workspace / "src" / "app" / "jobs.py")
    fake_qlo.set({"list": {"default": {"json": [sym("cleanup", FUNCTION, 3, 4)]}}, "refs": {"targets": {}}})
    result = pindrel("audit", absolute, absolute, cwd=workspace, env=fake_qlo.env)
    assert result.status == 1, result
    assert result.out == (
        "warn  src/app/jobs.py:4  func `cleanup` has no references\n"
        "warn  src/app/jobs.py:4  func `cleanup` has no references\n"
        "\n"
        "2 file(s), 2 symbol(s) checked — 2 warn, 0 note\n"
    )
    assert [run["argv"] for run in fake_qlo.runs()] == [
        ["--format", "json", "list", absolute],
        ["--format", "json", "refs", f"{absolute}:4:5", *REFS_TAIL],
    ] * 2

    result = pindrel("--format", "json", "audit", absolute, cwd=workspace, env=fake_qlo.env)
    report = json.loads(result.out)
    assert report["files"] == ["src/app/jobs.py"]
    assert report["findings"][0]["file"] == absolute


def test_own_definition_under_another_spelling_counts_as_a_reference(pindrel, workspace, fake_qlo):
    absolute = str(workspace / "src" / "app" / "jobs.py")
    answer = {"symbol": "cleanup", "reference_count": 1, "references": [refs(absolute, 4)]}
    fake_qlo.set({"list": {"default": {"json": [sym("cleanup", FUNCTION, 3, 4)]}}, "refs": {"default": {"json": answer}}})
    result = pindrel("audit", "src/app/jobs.py", cwd=workspace, env=fake_qlo.env)
    assert result.status == 0, result


DECORATED = """\
import unittest
from app import app


@app.route("/")
def index():
    pass


@staticmethod
def plain():
    pass


class Case(unittest.TestCase):
    def setUp(self):
        pass


class Bare:
    def setUp(self):
        pass
"""

DECORATED_SYMBOLS = [
    sym("index", FUNCTION, 5, 4),
    sym("plain", FUNCTION, 10, 4),
    sym("Case", CLASS, 14, 6, [sym("setUp", METHOD, 15, 8)]),
    sym("Bare", CLASS, 19, 6, [sym("setUp", METHOD, 20, 8)]),
]


def test_decorators_and_bases_come_from_the_file_read_from_the_current_directory(pindrel, workspace, fake_qlo):
    (workspace / "views.py").write_text(DECORATED)
    fake_qlo.set({"list": {"default": {"json": DECORATED_SYMBOLS}}, "refs": {"targets": {}}})
    result = pindrel("audit", "views.py", cwd=workspace, env=fake_qlo.env)
    assert result.status == 1, result
    assert result.out == (
        "warn  views.py:11  func `plain` has no references\n"
        "warn  views.py:21  method `Bare.setUp` has no references\n"
        "\n"
        "1 file(s), 6 symbol(s) checked — 2 warn, 0 note\n"
    )

    # From another directory the relative path still reaches the tool, which runs in the
    # workspace root, but the file itself cannot be read: no decorators, no bases.
    elsewhere = workspace / "src"
    result = pindrel("--workspace", workspace, "audit", "views.py", cwd=elsewhere, env=fake_qlo.env)
    assert result.status == 1, result
    assert [line.split("  ")[2] for line in result.out.splitlines()[:4]] == [
        "func `index` has no references",
        "func `plain` has no references",
        "method `Case.setUp` has no references",
        "method `Bare.setUp` has no references",
    ]
    assert {run["cwd"] for run in fake_qlo.runs()} == {str(workspace)}


def test_qlo_found_on_path(pindrel, workspace, fake_qlo, tmp_path):
    bin_dir = tmp_path / "bin"
    bin_dir.mkdir()
    os.symlink(fake_qlo.executable, bin_dir / "qlo")
    env = dict(fake_qlo.path_env)
    env["PATH"] = f"{bin_dir}:/usr/bin:/bin"
    fake_qlo.set({"list": {"default": {"json": []}}})
    result = pindrel("audit", "src/app/jobs.py", cwd=workspace, env=env)
    assert result.status == 0, result
    assert len(fake_qlo.runs()) == 1


def test_qlo_not_found(pindrel, workspace, fake_qlo):
    env = dict(fake_qlo.path_env)
    env["PATH"] = "/nonexistent"
    result = pindrel("audit", "src/app/jobs.py", cwd=workspace, env=env)
    assert (result.status, result.out) == (2, "")
    assert result.err == (
        "pindrel: `qlo` not found on PATH. Install it with `uv add --dev quillo`, or point PINDREL_QLO at the "
        "binary.: cannot find binary path\n"
    )


@pytest.mark.parametrize(
    "answer, message",
    [
        ({"exit": 3, "stderr": "\n  daemon crashed\n"}, "`{qlo}` exited with exit status: 3: daemon crashed"),
        ({"exit": 1}, "`{qlo}` exited with exit status: 1: "),
        ({"signal": 9, "stderr": "x"}, "`{qlo}` exited with signal: 9 (SIGKILL): x"),
        ({"stderr_hex": "62ff", "exit": 4}, "`{qlo}` exited with exit status: 4: b\ufffd"),
        (
            {"stdout_hex": "5bff5d"},
            "`qlo` produced output that was not valid UTF-8: invalid utf-8 sequence of 1 bytes from index 1",
        ),
        ({"stdout": "\n  nothing to see\n"}, "no JSON found in `qlo` output: nothing to see"),
        (
            {"json": {"name": "x"}},
            "could not parse `qlo list` JSON: invalid type: map, expected a sequence at line 1 column 0",
        ),
        ({"json": [], "trailer": "\ndone\n"}, "could not parse `qlo list` JSON: trailing characters at line 2 column 1"),
        ({"stdout": "[{\"name\": \"f\""}, "could not parse `qlo list` JSON: EOF while parsing an object at line 1 column 13"),
        (
            {"json": [{"name": "f", "kind": 12, "range": {"start": {"line": 0, "character": 0}, "end": {"line": 0, "character": 1}}}]},
            "could not parse `qlo list` JSON: missing field `selectionRange` at line 15 column 3",
        ),
        (
            {"json": [sym("f", 256, 0, 0)]},
            "could not parse `qlo list` JSON: invalid value: integer `256`, expected u8 at line 4 column 15",
        ),
    ],
)
def test_list_errors(pindrel, workspace, fake_qlo, answer, message):
    fake_qlo.set({"list": {"default": answer}})
    result = pindrel("audit", "src/app/jobs.py", cwd=workspace, env=fake_qlo.env)
    assert (result.status, result.out) == (2, "")
    expected = message.format(qlo=fake_qlo.executable)
    assert result.err == f"pindrel: could not outline src/app/jobs.py: {expected}\n"


def test_list_spawn_failure(pindrel, workspace, fake_qlo):
    for qlo, shown in [("/no/such/qlo", "/no/such/qlo"), ("", "")]:
        env = dict(fake_qlo.env, PINDREL_QLO=qlo)
        result = pindrel("audit", "src/app/jobs.py", cwd=workspace, env=env)
        assert (result.status, result.out) == (2, "")
        assert result.err == (
            f"pindrel: could not outline src/app/jobs.py: failed to spawn `{shown}`: "
            "No such file or directory (os error 2)\n"
        )


def test_failure_on_a_later_file_writes_no_report(pindrel, workspace, fake_qlo):
    (workspace / "b.py").write_text("")
    fake_qlo.set(
        {
            "list": {"files": {"src/app/jobs.py": {"json": JOBS_SYMBOLS}, "b.py": {"exit": 2, "stderr": "no b"}}},
            "refs": {"targets": JOBS_ANSWERS},
        }
    )
    result = pindrel("audit", "src/app/jobs.py", "b.py", cwd=workspace, env=fake_qlo.env)
    assert (result.status, result.out) == (2, "")
    assert result.err == f"pindrel: could not outline b.py: `{fake_qlo.executable}` exited with exit status: 2: no b\n"


TWO_FUNCTIONS = [sym("cleanup", FUNCTION, 3, 4), sym("helper", FUNCTION, 7, 4)]
TWO_TARGETS = "src/app/jobs.py:4:5, src/app/jobs.py:8:5"


@pytest.mark.parametrize(
    "answer, message",
    [
        ({"exit": 5, "stderr": "refs failed"}, "`{qlo}` exited with exit status: 5: refs failed"),
        ({"json": {"symbol": "cleanup"}}, "`qlo refs` answered 1 of 2 queries"),
        ({"json": [{"symbol": "a"}, {"symbol": "b"}, {"symbol": "c"}]}, "`qlo refs` answered 3 of 2 queries"),
        (
            {"stdout": "[INFO] starting\n[]"},
            "could not parse `qlo refs` JSON array: expected value at line 1 column 2",
        ),
        (
            {"json": [{"symbol": "a"}, {"symbol": "b"}], "trailer": "\nbye"},
            "could not parse `qlo refs` JSON array: trailing characters at line 9 column 1",
        ),
        (
            {"stdout": "{\"symbol\": \"a\"} {}"},
            "could not parse `qlo refs` JSON: trailing characters at line 1 column 17",
        ),
        (
            {"json": [{"symbol": "a", "references": None}, {"symbol": "b"}]},
            "could not parse `qlo refs` JSON array: invalid type: null, expected a sequence at line 4 column 22",
        ),
        (
            {"json": [{"symbol": "a", "references": [["f.py", 1]]}, {"symbol": "b"}]},
            "could not parse `qlo refs` JSON array: invalid length 2, expected struct Reference with 4 elements "
            "at line 8 column 7",
        ),
        ({"stdout": "ok\n"}, "no JSON found in `qlo` output: ok"),
    ],
)
def test_refs_errors(pindrel, workspace, fake_qlo, answer, message):
    fake_qlo.set({"list": {"default": {"json": TWO_FUNCTIONS}}, "refs": {"default": answer}})
    result = pindrel("audit", "src/app/jobs.py", cwd=workspace, env=fake_qlo.env)
    assert (result.status, result.out) == (2, "")
    expected = message.format(qlo=fake_qlo.executable)
    assert result.err == f"pindrel: could not resolve references for {TWO_TARGETS}: {expected}\n"


def test_array_answers_in_either_form_are_read(pindrel, workspace, fake_qlo):
    answers = [
        ["cleanup", 1, [["tests/test_jobs.py", 3, 1]], 0],
        {"symbol": "helper", "extra": {"ignored": [1, 2]}, "reference_count": 1, "references": [refs("src/m.py", 2)]},
    ]
    fake_qlo.set(
        {"list": {"default": {"json": TWO_FUNCTIONS}}, "refs": {"default": {"banner": "warming up\n", "json": answers}}}
    )
    result = pindrel("audit", "src/app/jobs.py", cwd=workspace, env=fake_qlo.env)
    assert result.status == 1, result
    assert result.out.splitlines()[0] == "note  src/app/jobs.py:4  func `cleanup` is referenced only from tests (1)"
    assert result.out.splitlines()[1] == ""


def test_path_with_invalid_utf8(pindrel, workspace, fake_qlo):
    name = b"b\xff.py"
    (workspace / os.fsdecode(name)).write_text("def f():\n    pass\n")
    fake_qlo.set({"list": {"default": {"json": [sym("f", FUNCTION, 0, 4)]}}, "refs": {"targets": {}}})
    result = pindrel("audit", name, cwd=workspace, env=fake_qlo.env)
    assert result.status == 1, result
    assert result.out_bytes.startswith("warn  b\ufffd.py:1  func `f` has no references\n".encode())
    assert [run["argv"][3] for run in fake_qlo.runs()] == [os.fsdecode(name), "b\ufffd.py:1:5"]

    result = pindrel("--format", "json", "audit", name, cwd=workspace, env=fake_qlo.env)
    assert (result.status, result.out) == (2, "")
    assert result.err == "pindrel: path contains invalid UTF-8 characters\n"
