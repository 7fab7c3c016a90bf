"""`pindrel impacted-tests`: the tests a change reaches, through the stand-in reference tool."""

import json
import os
import re
import shutil
import subprocess
import textwrap
import time
from pathlib import Path

import pytest


def src(text: str) -> str:
    return textwrap.dedent(text).lstrip("\n")


# A small project. Positions that the tests name are the 1-based line and column of a
# definition's name: net 1:5 and gross 5:5 in pkg/prices.py; Cart 4:7, Cart.__init__ 5:9 and
# Cart.total 8:9 in pkg/cart.py; total_of 4:5 in tests/test_cart.py.
PROJECT = {
    "pyproject.toml": '[project]\nname = "demo"\n',
    "pkg/__init__.py": "",
    "pkg/prices.py": src(
        """
        def net(amount):
            return amount


        def gross(amount):
            return net(amount) * 2
        """
    ),
    "pkg/cart.py": src(
        """
        from pkg.prices import gross


        class Cart:
            def __init__(self):
                self.items = []

            def total(self):
                return sum(gross(i) for i in self.items)
        """
    ),
    "tests/__init__.py": "",
    "tests/conftest.py": src(
        """
        import pytest

        from pkg.cart import Cart


        @pytest.fixture
        def cart():
            return Cart()


        @pytest.fixture
        def cart_total(cart):
            return cart.total()
        """
    ),
    "tests/test_cart.py": src(
        """
        from pkg.cart import Cart


        def total_of(cart):
            return cart.total()


        def test_total(cart):
            assert cart.total() == 0


        class TestCart:
            def test_filled(self):
                c = Cart()
                c.items.append(1)
                assert total_of(c) == 2
        """
    ),
    "tests/test_prices.py": src(
        """
        from pkg.prices import gross

        DOUBLE = gross(1)


        def test_gross():
            assert DOUBLE == 2
        """
    ),
    "tests/smoke/conftest.py": src(
        """
        from pkg.cart import Cart

        EMPTY = Cart().total()
        """
    ),
}

NET = "pkg/prices.py:1:5"
GROSS = "pkg/prices.py:5:5"
CART = "pkg/cart.py:4:7"
CART_INIT = "pkg/cart.py:5:9"
CART_TOTAL = "pkg/cart.py:8:9"
TOTAL_OF = "tests/test_cart.py:4:5"


def site(file, line):
    return {"file": str(file), "line": line, "column": 1, "context": ""}


def answer(*references, tests=()):
    return {
        "symbol": "answered",
        "reference_count": len(references),
        "references": [site(*r) for r in references],
        "test_reference_count": len(tests),
        "test_references": [site(*t) for t in tests],
    }


def chain_answers(root):
    """net is used by gross, gross by Cart.total (named by an absolute path) and at module
    level of tests/test_prices.py, Cart.total by a fixture, a test, a test helper and a
    conftest's module level, the helper by a test method, and Cart by the files importing it:
    a fixture, a test method and a conftest's module level construct it."""
    return {
        NET: answer(("pkg/prices.py", 6)),
        GROSS: answer(
            ("pkg/cart.py", 1), (root / "pkg/cart.py", 9), tests=[("tests/test_prices.py", 1), ("tests/test_prices.py", 3)]
        ),
        CART_TOTAL: answer(
            tests=[
                ("tests/conftest.py", 13),
                ("tests/smoke/conftest.py", 3),
                ("tests/test_cart.py", 5),
                ("tests/test_cart.py", 9),
            ]
        ),
        TOTAL_OF: answer(tests=[("tests/test_cart.py", 16)]),
        CART: answer(
            tests=[
                ("tests/conftest.py", 3),
                ("tests/conftest.py", 8),
                ("tests/smoke/conftest.py", 1),
                ("tests/smoke/conftest.py", 3),
                ("tests/test_cart.py", 1),
                ("tests/test_cart.py", 14),
            ]
        ),
    }


def entry(file, symbol, via, origin, kind="test"):
    return {"file": file, "symbol": symbol, "via": via, "origin": origin, "kind": kind}


VIA_TOTAL = ["pkg.cart:Cart.total", "pkg.prices:gross"]
# Cart.total's class reaches the cart fixture and TestCart.test_filled on the level where the
# method's own sites reach the helper total_of; the helper then adds nothing, and is itself
# recorded, as a dead end in a test file is.
CHAIN_TESTS = [
    entry("tests/conftest.py", "tests.conftest:cart", VIA_TOTAL, "pkg.prices:net", "fixture"),
    entry("tests/conftest.py", "tests.conftest:cart_total", VIA_TOTAL, "pkg.prices:net", "fixture"),
    entry("tests/smoke/conftest.py", None, VIA_TOTAL, "pkg.prices:net"),
    entry("tests/test_cart.py", "tests.test_cart:TestCart.test_filled", VIA_TOTAL, "pkg.prices:net"),
    entry("tests/test_cart.py", "tests.test_cart:test_total", VIA_TOTAL, "pkg.prices:net"),
    entry("tests/test_cart.py", "tests.test_cart:total_of", VIA_TOTAL, "pkg.prices:net"),
    entry("tests/test_prices.py", None, ["pkg.prices:gross"], "pkg.prices:net"),
]


def commit_demo(repo, pindrel_table="", extra=None):
    """Commits the project, with `pindrel_table` as its [tool.pindrel] lines and `extra` files."""
    files = {**PROJECT, **(extra or {})}
    if pindrel_table:
        files["pyproject.toml"] += "\n[tool.pindrel]\n" + pindrel_table
    for rel, text in files.items():
        repo.write(rel, text)
    repo.commit("demo project")
    repo.root = repo.path.resolve()
    return repo


@pytest.fixture
def demo(repo):
    return commit_demo(repo)


def edit(repo, rel, old, new):
    path = repo.path / rel
    text = path.read_text()
    assert old in text, (rel, old)
    path.write_text(text.replace(old, new, 1))


def change_net(repo):
    edit(repo, "pkg/prices.py", "return amount\n", "return amount + 0\n")


def base_line(repo, base="main"):
    return f"base {base} (merge-base {repo.git('merge-base', 'HEAD', base).strip()[:7]})\n"


def run_impacted(pindrel, repo, fake_qlo, *args, env=None, cwd=None):
    r = pindrel("impacted-tests", *args, cwd=cwd or repo.path, env={**fake_qlo.env, **(env or {})})
    assert (r.status, r.err) == (0, ""), r
    return r


def impacted_text(pindrel, repo, fake_qlo, *args, env=None):
    """The text with the walk's milliseconds, which vary, replaced by N."""
    out = run_impacted(pindrel, repo, fake_qlo, *args, env=env).out
    assert re.search(r", \d+ ms\n\Z", out), out
    return re.sub(r"\d+ ms\n\Z", "N ms\n", out)


def impacted_json(pindrel, repo, fake_qlo, *args, env=None, cwd=None):
    r = run_impacted(pindrel, repo, fake_qlo, "--format", "json", *args, env=env, cwd=cwd)
    assert r.out.startswith("{\n") and r.out.endswith("\n}"), r.out
    report = json.loads(r.out)
    assert isinstance(report["stats"].pop("duration_ms"), int)
    return report


def refs_targets(fake_qlo):
    """The targets of each `qlo refs` run, in order."""
    runs = fake_qlo.runs()
    for run in runs:
        assert run["argv"][:3] == ["--format", "json", "refs"], run
        assert run["argv"][-3:] == ["--tests", "--references-limit", "0"], run
    return [run["argv"][3:-3] for run in runs]


def stats(seeds, visited, depth, calls):
    return {"seeds": seeds, "visited": visited, "max_depth_reached": depth, "qlo_calls": calls}


# ---- a selection and what it shows -----------------------------------------------------


def test_text_shows_tests_fixtures_and_conftests_with_their_chains(pindrel, demo, fake_qlo):
    change_net(demo)
    fake_qlo.set({"refs": {"targets": chain_answers(demo.root)}})
    assert impacted_text(pindrel, demo, fake_qlo) == base_line(demo) + (
        "verdict selected\n"
        "\n"
        "impacted tests (4)\n"
        "  tests/test_cart.py::TestCart.test_filled\n"
        "    ← pkg.cart:Cart.total ← pkg.prices:gross ← pkg.prices:net\n"
        "  tests/test_cart.py::test_total\n"
        "    ← pkg.cart:Cart.total ← pkg.prices:gross ← pkg.prices:net\n"
        "  tests/test_cart.py::total_of\n"
        "    ← pkg.cart:Cart.total ← pkg.prices:gross ← pkg.prices:net\n"
        "  tests/test_prices.py  (whole file)\n"
        "    ← pkg.prices:gross ← pkg.prices:net\n"
        "\n"
        "impacted fixtures (2)\n"
        "  tests.conftest:cart  (the tests that consume it)\n"
        "    ← pkg.cart:Cart.total ← pkg.prices:gross ← pkg.prices:net\n"
        "  tests.conftest:cart_total  (the tests that consume it)\n"
        "    ← pkg.cart:Cart.total ← pkg.prices:gross ← pkg.prices:net\n"
        "\n"
        "impacted conftests (1)\n"
        "  tests/smoke/conftest.py  (every test file in its subtree)\n"
        "    ← pkg.cart:Cart.total ← pkg.prices:gross ← pkg.prices:net\n"
        "\n"
        "4 symbol(s) visited, 5 qlo call(s), N ms\n"
    )


def test_json_report_and_one_refs_run_per_level(pindrel, demo, fake_qlo):
    change_net(demo)
    fake_qlo.set({"refs": {"targets": chain_answers(demo.root)}})
    report = impacted_json(pindrel, demo, fake_qlo)
    assert list(report) == [
        "verdict", "reason", "base", "merge_base", "impacted_tests", "test_files_changed",
        "ignored_symbols", "ignored_paths", "stats", "errors",
    ]
    assert report["verdict"] == "selected"
    assert report["reason"] is None
    assert report["base"] == "main"
    assert report["merge_base"] == demo.git("merge-base", "HEAD", "main").strip()
    assert report["impacted_tests"] == CHAIN_TESTS
    # Cart.total is also followed through its class.
    assert report["stats"] == stats(1, 4, 3, 5)
    for key in ("test_files_changed", "ignored_symbols", "ignored_paths", "errors"):
        assert report[key] == [], key
    assert refs_targets(fake_qlo) == [[NET], [GROSS], [CART_TOTAL], [CART], [TOTAL_OF]]
    assert {run["cwd"] for run in fake_qlo.runs()} == {str(demo.root)}


def test_a_module_level_change_seeds_the_module_and_its_top_level_definitions(pindrel, demo, fake_qlo):
    (demo.path / "pkg/prices.py").write_text(PROJECT["pkg/prices.py"] + "\nRATE = 2\n")
    fake_qlo.set({"refs": {"targets": chain_answers(demo.root)}})
    report = impacted_json(pindrel, demo, fake_qlo)
    # Both top-level functions are asked about in one run; net's only user is gross, a seed too.
    # The method Cart.total is followed through its class as well.
    assert refs_targets(fake_qlo) == [[GROSS, NET], [CART_TOTAL], [CART], [TOTAL_OF]]
    assert report["verdict"] == "selected"
    # The module scan runs before any query: pkg/cart.py imports pkg.prices, so pkg.cart is
    # changed at import time too, and the files importing either are recorded whole, which
    # leaves the symbols the walk reaches later in them out.
    assert [(t["file"], t["symbol"], t["origin"], t["via"]) for t in report["impacted_tests"]] == [
        ("tests/conftest.py", None, "pkg.prices", ["pkg.cart"]),
        ("tests/smoke/conftest.py", None, "pkg.prices", ["pkg.cart"]),
        ("tests/test_cart.py", None, "pkg.prices", ["pkg.cart"]),
        ("tests/test_prices.py", None, "pkg.prices", []),
    ]
    assert report["stats"] == stats(3, 6, 2, 4)


def test_ignored_decorator_stops_the_walk_and_is_listed(pindrel, repo, fake_qlo):
    jobs = src(
        """
        from pkg.prices import net
        from pkg.worker import app


        @app.task(retries=2)
        def nightly():
            return net(1)
        """
    )
    commit_demo(repo, 'ignore-decorators = ["task"]\n', {"pkg/jobs.py": jobs})
    change_net(repo)
    fake_qlo.set({"refs": {"targets": {NET: answer(("pkg/jobs.py", 1), ("pkg/jobs.py", 7))}}})
    assert impacted_text(pindrel, repo, fake_qlo) == base_line(repo) + (
        "verdict selected\n"
        "\n"
        "No impacted tests.\n"
        "\n"
        "ignored symbols (1)\n"
        "  pkg.jobs:nightly  (@task)\n"
        "\n"
        "1 symbol(s) visited, 1 qlo call(s), N ms\n"
    )
    assert refs_targets(fake_qlo) == [[NET]]


def test_no_changes_select_nothing_without_running_the_tool(pindrel, demo, fake_qlo):
    report = impacted_json(pindrel, demo, fake_qlo, env=fake_qlo.path_env | {"PINDREL_QLO": None})
    assert (report["verdict"], report["reason"], report["impacted_tests"]) == ("selected", None, [])
    assert report["stats"] == stats(0, 0, 0, 0)
    assert fake_qlo.runs() == []


def test_a_deleted_function_is_found_by_its_name(pindrel, repo, fake_qlo):
    commit_demo(
        repo,
        extra={
            "pkg/prices.py": PROJECT["pkg/prices.py"] + "\n\ndef legacy(amount):\n    return amount\n",
            "tests/test_legacy.py": "from pkg.prices import legacy\n\n\ndef test_legacy():\n    assert legacy(1) == 1\n",
        },
    )
    repo.write("pkg/prices.py", PROJECT["pkg/prices.py"])
    # No query: the word search finds the test file that still imports it, which now fails at
    # import as a whole. The module itself runs at import as before.
    report = impacted_json(pindrel, repo, fake_qlo)
    assert report["impacted_tests"] == [entry("tests/test_legacy.py", None, [], "pkg.prices:legacy")]
    assert report["stats"] == stats(1, 1, 0, 0)


# ---- run_all: every reason -------------------------------------------------------------


def git_only_path(tmp_path):
    """A PATH directory that holds git and no qlo."""
    directory = tmp_path / "git-only"
    directory.mkdir()
    (directory / "git").symlink_to(shutil.which("git"))
    return str(directory)




HANDLERS = src(
    """
    from pkg.events import bus


    @bus.on("paid")
    def on_paid(event):
        return event


    @bus.on("refunded")
    def on_refunded(event):
        return event
    """
)


def change_net_and_add_notes(repo):
    change_net(repo)
    repo.write("notes.txt", "todo\n")


def break_prices(repo):
    repo.write("pkg/prices.py", "def net(:\n")


def change_net_beside_unreadable_module(repo):
    repo.write("pkg/bad.py", b"name = '\xff'\n")
    repo.commit()
    change_net(repo)


def change_registered_handler(repo):
    repo.write("pkg/handlers.py", HANDLERS)
    repo.commit()
    edit(repo, "pkg/handlers.py", "return event\n", "return event.id\n")


# Each case: how the tree changes, the stand-in's answers, the arguments, then the expected
# reason, errors (with {root} and {qlo} filled in), counters and (file, symbol) of the tests.
RUN_ALL_CASES = {
    "non_python_changes": dict(
        change=change_net_and_add_notes,
        reason="non_python_changes",
        stats=stats(0, 0, 0, 0),
    ),
    "parse_errors": dict(
        change=break_prices,
        reason="parse_errors",
        stats=stats(0, 0, 0, 0),
    ),
    "qlo_unavailable": dict(
        env=lambda tmp_path: {"PINDREL_QLO": None, "PATH": git_only_path(tmp_path)},
        reason="qlo_unavailable",
        errors=[
            "`qlo` not found on PATH. Install it with `uv add --dev quillo`, or point PINDREL_QLO at the binary.: "
            "cannot find binary path"
        ],
        stats=stats(0, 0, 0, 0),
    ),
    "refs_failed": dict(
        change=change_net,
        scenario={"refs": {"default": {"stderr": "  index locked\n", "exit": 1}}},
        reason="refs_failed",
        errors=[f"could not resolve references for {NET}: `{{qlo}}` exited with exit status: 1: index locked"],
        stats=stats(1, 1, 0, 1),
    ),
    "index_failed": dict(
        change=change_net_beside_unreadable_module,
        scenario={"refs": {"targets": {NET: answer(("pkg/bad.py", 1))}}},
        reason="index_failed",
        errors=["could not read {root}/pkg/bad.py: stream did not contain valid UTF-8"],
        stats=stats(1, 1, 0, 1),
    ),
    "max_depth": dict(
        change=change_net,
        args=["--max-depth", "1"],
        reason="max_depth",
        stats=stats(1, 3, 1, 2),
        tests=[("tests/test_prices.py", None)],
    ),
    "max_symbols": dict(
        change=change_net,
        args=["--max-symbols", "2"],
        reason="max_symbols",
        stats=stats(1, 3, 1, 2),
        tests=[("tests/test_prices.py", None)],
    ),
    # The git runs before the walk spend a budget of one millisecond.
    "budget": dict(change=change_net, args=["--budget-ms", "1"], reason="budget", stats=stats(1, 1, 0, 0)),
    "decorator_dispatch": dict(
        change=change_registered_handler,
        # bus is named by its own import, which is left out, and by the decorator of the
        # other function it registers, which resolves nothing; that function is walked next
        # and ends the same way, through the answer kept from the first query. The decorator
        # runs at import, so pkg.handlers is visited as changed at import time too.
        scenario={"refs": {"targets": {"pkg/handlers.py:1:24": answer(("pkg/handlers.py", 1), ("pkg/handlers.py", 9))}}},
        reason="decorator_dispatch",
        errors=[
            f"`pkg.handlers:{name}` is registered by @bus.on and nothing referencing `bus` could be resolved"
            for name in ("on_paid", "on_refunded")
        ],
        stats=stats(1, 3, 1, 3),
    ),
}


@pytest.mark.parametrize("case", RUN_ALL_CASES.values(), ids=RUN_ALL_CASES.keys())
def test_run_all_reasons(pindrel, demo, fake_qlo, tmp_path, case):
    if "change" in case:
        case["change"](demo)
    fake_qlo.set({"refs": {"targets": chain_answers(demo.root)}, **case.get("scenario", {})})
    env = case["env"](tmp_path) if "env" in case else None
    report = impacted_json(pindrel, demo, fake_qlo, *case.get("args", []), env=env)
    assert (report["verdict"], report["reason"]) == ("run_all", case["reason"])
    fill = {"root": demo.root, "qlo": fake_qlo.executable}
    assert report["errors"] == [e.format(**fill) for e in case.get("errors", [])]
    assert report["stats"] == case["stats"]
    assert [(t["file"], t["symbol"]) for t in report["impacted_tests"]] == case.get("tests", [])


def test_run_all_text_shows_the_reason_and_the_sections(pindrel, repo, fake_qlo):
    commit_demo(repo, 'ignore-paths = ["docs/**"]\n')
    repo.write("docs/guide.md", "# guide\n")
    repo.write("Makefile", "all:\n")
    repo.write("tests/test_new.py", "def test_new():\n    pass\n")
    assert impacted_text(pindrel, repo, fake_qlo) == base_line(repo) + (
        "verdict run_all — non-Python files changed\n"
        "\n"
        "No impacted tests.\n"
        "\n"
        "changed test files (1)\n"
        "  tests/test_new.py\n"
        "\n"
        "ignored paths (1)\n"
        "  docs/guide.md\n"
        "\n"
        "0 symbol(s) visited, 0 qlo call(s), N ms\n"
    )
    assert fake_qlo.runs() == []


def test_refs_failure_text_lists_the_error(pindrel, demo, fake_qlo):
    change_net(demo)
    fake_qlo.set({"refs": {"default": {"stdout": "no json here\n"}}})
    assert impacted_text(pindrel, demo, fake_qlo) == base_line(demo) + (
        "verdict run_all — qlo failed during the walk\n"
        "\n"
        "No impacted tests.\n"
        "\n"
        "errors (1)\n"
        f"  could not resolve references for {NET}: no JSON found in `qlo` output: no json here\n"
        "\n"
        "1 symbol(s) visited, 1 qlo call(s), N ms\n"
    )


@pytest.mark.parametrize(
    "script",
    [
        'echo $$ > "$0.pid"\nexec sleep 60\n',
        # The tool answers nothing and exits, but what it left behind holds its output open.
        'sleep 60 &\necho $! > "$0.pid"\n',
    ],
    ids=["hangs", "leaves a child holding its output"],
)
def test_budget_ends_a_reference_tool_that_does_not_finish(pindrel, demo, tmp_path, script):
    change_net(demo)
    tool = tmp_path / "slow-qlo"
    tool.write_text("#!/bin/sh\n" + script)
    tool.chmod(0o755)
    started = time.monotonic()
    r = pindrel("impacted-tests", "--format", "json", "--budget-ms", "500", cwd=demo.path, env={"PINDREL_QLO": str(tool)})
    took = time.monotonic() - started
    assert (r.status, r.err) == (0, ""), r
    report = json.loads(r.out)
    assert (report["verdict"], report["reason"], report["errors"]) == ("run_all", "budget", [])
    assert report["stats"]["qlo_calls"] == 1
    assert took < 30, took
    # The process the tool left running went with it.
    pid = int((tmp_path / "slow-qlo.pid").read_text())
    deadline = time.monotonic() + 10
    while time.monotonic() < deadline and process_is_running(pid):
        time.sleep(0.05)
    assert not process_is_running(pid)


def process_is_running(pid):
    """Whether `pid` runs; a process that has ended but waits to be reaped by init does not."""
    try:
        fields = Path(f"/proc/{pid}/stat").read_text().rsplit(")", 1)[1].split()
    except (FileNotFoundError, ProcessLookupError):
        return False
    return fields[0] != "Z"


def test_budget_flag_zero_beats_the_configured_budget(pindrel, repo, fake_qlo):
    commit_demo(repo, "budget-ms = 1\n")
    change_net(repo)
    fake_qlo.set({"refs": {"targets": chain_answers(repo.root)}})
    assert impacted_json(pindrel, repo, fake_qlo)["reason"] == "budget"
    report = impacted_json(pindrel, repo, fake_qlo, "--budget-ms", "0")
    assert (report["verdict"], report["impacted_tests"]) == ("selected", CHAIN_TESTS)


def modify_test_cafe(repo):
    repo.write(os.fsdecode(b"tests/test_caf\xe9.py"), "def test_cafe():\n    assert False\n")


def add_untracked_module(repo):
    repo.write(os.fsdecode(b"pkg/caf\xe9.py"), "def cafe():\n    return 1\n")


def rename_to_utf8(repo):
    repo.git("mv", os.fsdecode(b"tests/test_caf\xe9.py"), "tests/test_caf\u00e9.py")


@pytest.mark.parametrize(
    "change, errors",
    [
        (modify_test_cafe, ['changed path "tests/test_caf\\xE9.py" is not valid UTF-8']),
        (add_untracked_module, ['changed path "pkg/caf\\xE9.py" is not valid UTF-8']),
        # Renamed to a valid name, the old side still names a file that cannot be told apart.
        (rename_to_utf8, ['changed path "tests/test_caf\\xE9.py" is not valid UTF-8']),
    ],
    ids=["modified test file", "untracked module", "renamed away"],
)
def test_a_changed_path_that_is_not_utf8_answers_run_all(pindrel, repo, fake_qlo, change, errors):
    commit_demo(repo, extra={os.fsdecode(b"tests/test_caf\xe9.py"): "def test_cafe():\n    assert True\n"})
    change(repo)
    report = impacted_json(pindrel, repo, fake_qlo)
    assert (report["verdict"], report["reason"], report["errors"]) == ("run_all", "index_failed", errors)
    assert fake_qlo.runs() == []

    # Saved, the report lists the source it could not read back among its errors; replayed, it
    # still runs everything.
    saved = pindrel("changed-symbols", "--format", "json", cwd=repo.path)
    assert saved.status == 0, saved
    assert os.fsdecode(b"caf\xef\xbf\xbd.py") in saved.out_bytes.decode().split('"errors"')[1], saved
    (repo.path / ".changes.json").write_bytes(saved.out_bytes)
    replayed = impacted_json(pindrel, repo, fake_qlo, "--changed", ".changes.json")
    assert replayed["verdict"] == "run_all"


# ---- replay ------------------------------------------------------------------------------


def test_replay_of_saved_changes_gives_the_same_report(pindrel, demo, fake_qlo, tmp_path):
    change_net(demo)
    fake_qlo.set({"refs": {"targets": chain_answers(demo.root)}})
    computed = impacted_json(pindrel, demo, fake_qlo)
    saved = pindrel("changed-symbols", "--format", "json", cwd=demo.path)
    assert saved.status == 0, saved
    (tmp_path / "changes.json").write_bytes(saved.out_bytes)
    demo.git("checkout", "--", ".")

    # The path is taken relative to the current directory, here a package below the top.
    replayed = impacted_json(pindrel, demo, fake_qlo, "--changed", "../../changes.json", cwd=demo.path / "pkg")
    assert replayed == computed


@pytest.mark.parametrize(
    "content, message",
    [
        (None, "cannot read --changed saved.json: No such file or directory (os error 2)"),
        (
            '{"base": "b"}',
            "cannot parse saved.json as a changed-symbols report: missing field `merge_base` at line 1 column 13",
        ),
        # A device is refused, not read without end.
        (Path("/dev/zero"), "cannot read --changed saved.json: not a regular file"),
    ],
    ids=["missing", "wrong shape", "device"],
)
def test_replay_errors(pindrel, demo, fake_qlo, content, message):
    if isinstance(content, Path):
        (demo.path / "saved.json").symlink_to(content)
    elif content is not None:
        demo.write("saved.json", content)
    r = pindrel("impacted-tests", "--changed", "saved.json", cwd=demo.path, env=fake_qlo.env)
    assert (r.status, r.out, r.err) == (2, "", f"pindrel: {message}\n")
    assert fake_qlo.runs() == []


# ---- repository files that are not regular ------------------------------------------------


def link_pyproject_to_zero(repo):
    (repo.path / "pyproject.toml").unlink()
    (repo.path / "pyproject.toml").symlink_to("/dev/zero")
    repo.commit()


def link_unchanged_module_to_zero(repo):
    (repo.path / "pkg/zero.py").symlink_to("/dev/zero")
    repo.write("pkg/rate.py", "RATE = 2\n")
    repo.commit()
    # A module-level change has every Python file scanned for its imports.
    repo.write("pkg/rate.py", "RATE = 3\n")


def link_changed_module_to_zero(repo):
    repo.write("pkg/zero.py", "X = 1\n")
    repo.commit()
    (repo.path / "pkg/zero.py").unlink()
    (repo.path / "pkg/zero.py").symlink_to("/dev/zero")


# A tracked link to /dev/zero is a read error with its usual consequence: the error line, or
# run_all with index_failed; it is never read without end.
@pytest.mark.parametrize(
    "change, error, verdict",
    [
        (link_pyproject_to_zero, "pindrel: cannot read {root}/pyproject.toml: not a regular file\n", None),
        (link_unchanged_module_to_zero, "", ["could not read {root}/pkg/zero.py: not a regular file"]),
        (link_changed_module_to_zero, "pindrel: could not read pkg/zero.py: not a regular file\n", None),
    ],
    ids=["configuration", "unchanged module", "changed module"],
)
def test_a_repository_file_that_is_not_regular_is_a_read_error(pindrel, demo, fake_qlo, change, error, verdict):
    change(demo)
    fake_qlo.set({"refs": {"targets": {}}})
    r = pindrel("impacted-tests", "--format", "json", cwd=demo.path, env=fake_qlo.env)
    assert r.err == error.format(root=demo.root), r
    if verdict is None:
        assert (r.status, r.out) == (2, ""), r
        return
    assert r.status == 0, r
    report = json.loads(r.out)
    assert (report["verdict"], report["reason"], report["errors"]) == (
        "run_all",
        "index_failed",
        [e.format(root=demo.root) for e in verdict],
    )


# ---- limits that mean "no limit", and methods nothing names -------------------------------


@pytest.mark.parametrize(
    "args",
    [
        ["--budget-ms", "18446744073709551615"],
        ["--max-depth", "4294967295", "--max-symbols", "18446744073709551615"],
    ],
    ids=["budget", "depth and symbols"],
)
def test_the_largest_limits_do_not_stop_the_walk(pindrel, demo, fake_qlo, args):
    change_net(demo)
    fake_qlo.set({"refs": {"targets": chain_answers(demo.root)}})
    report = impacted_json(pindrel, demo, fake_qlo, *args)
    assert (report["verdict"], report["reason"], report["impacted_tests"]) == ("selected", None, CHAIN_TESTS)


def test_a_method_nothing_names_is_reached_through_its_class(pindrel, demo, fake_qlo):
    edit(demo, "pkg/cart.py", "self.items = []", "self.items = list()")
    # No site names __init__; the class is named by its own definition (left out), two
    # imports, the cart fixture and a test method.
    class_answer = answer(
        ("pkg/cart.py", 4),
        tests=[("tests/conftest.py", 3), ("tests/conftest.py", 8), ("tests/test_cart.py", 1), ("tests/test_cart.py", 14)],
    )
    fake_qlo.set({"refs": {"targets": {CART: class_answer}}})
    report = impacted_json(pindrel, demo, fake_qlo)
    assert (report["verdict"], report["reason"]) == ("selected", None)
    assert report["impacted_tests"] == [
        entry("tests/conftest.py", "tests.conftest:cart", [], "pkg.cart:Cart.__init__", "fixture"),
        entry("tests/test_cart.py", "tests.test_cart:TestCart.test_filled", [], "pkg.cart:Cart.__init__"),
    ]
    assert report["stats"] == stats(1, 1, 0, 2)
    assert refs_targets(fake_qlo) == [[CART_INIT], [CART]]


# A library whose methods the reference tool sees only where a test names them: Option(...)
# in pkg/parser.py builds options, and render calls flag on options it cannot type.
# Positions: Option 1:7, Option.__init__ 2:9, Option.flag 5:9 in pkg/options.py; build 4:5 in
# pkg/parser.py.
OPTIONS_PROJECT = {
    "pyproject.toml": src(
        """
        [project]
        name = "opts"

        [tool.pytest.ini_options]
        pythonpath = ["."]
        addopts = "-p no:cacheprovider"

        [tool.pindrel]
        pytest-command = ["/usr/bin/python3", "-m", "pytest"]
        """
    ),
    "pkg/__init__.py": "",
    "pkg/options.py": src(
        """
        class Option:
            def __init__(self, name):
                self.name = name

            def flag(self):
                return "--" + self.name
        """
    ),
    "pkg/parser.py": src(
        """
        from pkg.options import Option


        def build(names):
            return [Option(n) for n in names]


        def render(options):
            return " ".join(o.flag() for o in options)
        """
    ),
    "tests/test_options.py": src(
        """
        from pkg.options import Option


        def test_flag():
            assert Option("x").flag() == "--x"
        """
    ),
    "tests/test_parser.py": src(
        """
        from pkg.parser import build, render


        def test_render():
            assert render(build(["a", "b"])) == "--a --b"
        """
    ),
    "tests/test_misc.py": "def test_unrelated():\n    assert True\n",
}

OPTION = "pkg/options.py:1:7"
OPTION_INIT = "pkg/options.py:2:9"
OPTION_FLAG = "pkg/options.py:5:9"
BUILD = "pkg/parser.py:4:5"
# What a reference tool answers: each method only where a test calls it on a typed value.
OPTIONS_ANSWERS = {
    OPTION_INIT: answer(tests=[("tests/test_options.py", 5)]),
    OPTION_FLAG: answer(tests=[("tests/test_options.py", 5)]),
    OPTION: answer(
        ("pkg/options.py", 1), ("pkg/parser.py", 1), ("pkg/parser.py", 5),
        tests=[("tests/test_options.py", 1), ("tests/test_options.py", 5)],
    ),
    BUILD: answer(tests=[("tests/test_parser.py", 1), ("tests/test_parser.py", 5)]),
}


@pytest.mark.parametrize(
    "old, new, method, target",
    [
        ("self.name = name\n", "self.name = name.upper()\n", "Option.__init__", OPTION_INIT),
        ('return "--" + self.name', 'return "-" + self.name', "Option.flag", OPTION_FLAG),
    ],
    ids=["built through the class", "called on an untyped receiver"],
)
def test_a_method_with_test_references_is_also_reached_through_its_class(pindrel, repo, fake_qlo, old, new, method, target):
    for rel, text in OPTIONS_PROJECT.items():
        repo.write(rel, text)
    repo.commit("options project")
    edit(repo, "pkg/options.py", old, new)
    fake_qlo.set({"refs": {"targets": OPTIONS_ANSWERS}})

    report = impacted_json(pindrel, repo, fake_qlo)
    origin = f"pkg.options:{method}"
    assert (report["verdict"], report["reason"]) == ("selected", None)
    assert report["impacted_tests"] == [
        entry("tests/test_options.py", "tests.test_options:test_flag", [], origin),
        entry("tests/test_parser.py", "tests.test_parser:test_render", ["pkg.parser:build"], origin),
    ]
    assert refs_targets(fake_qlo) == [[target], [OPTION], [BUILD]]
    assert report["stats"] == stats(1, 2, 1, 3)

    # Both selected tests fail under pytest; the unrelated file is not run.
    r = pindrel("run", "--", "-q", cwd=repo.path, env=fake_qlo.env, stderr=subprocess.STDOUT)
    assert r.status == 1, r
    assert "2 failed" in r.out and "test_misc" not in r.out and "passed" not in r.out, r


def test_a_method_of_a_class_reexported_under_an_alias_reaches_the_alias_users(pindrel, repo, fake_qlo):
    for rel, text in {
        "pyproject.toml": '[project]\nname = "shapes"\n',
        "pkg/__init__.py": "from pkg.shapes import Square as Sq\n",
        "pkg/shapes.py": src(
            """
            class Square:
                def __init__(self, side):
                    self.side = side

                def __eq__(self, other):
                    return self.side == other.side
            """
        ),
        "pkg/geo.py": "from pkg import Sq\n\n\ndef same(a, b):\n    return Sq(a) == Sq(b)\n",
        "tests/test_geo.py": "from pkg.geo import same\n\n\ndef test_same():\n    assert same(2, 2)\n",
        "tests/test_misc.py": "def test_unrelated():\n    assert True\n",
    }.items():
        repo.write(rel, text)
    repo.commit("shapes project")
    edit(repo, "pkg/shapes.py", "self.side == other.side", "self.side is other")
    fake_qlo.set(
        {
            "refs": {
                "targets": {
                    "pkg/shapes.py:1:7": answer(("pkg/shapes.py", 1), ("pkg/__init__.py", 1)),
                    "pkg/__init__.py:1:34": answer(("pkg/geo.py", 1), ("pkg/geo.py", 5)),
                    "pkg/geo.py:4:5": answer(tests=[("tests/test_geo.py", 1), ("tests/test_geo.py", 5)]),
                }
            }
        }
    )
    report = impacted_json(pindrel, repo, fake_qlo)
    assert (report["verdict"], report["reason"]) == ("selected", None)
    assert report["impacted_tests"] == [
        entry("tests/test_geo.py", "tests.test_geo:test_same", ["pkg.geo:same", "pkg:Sq"], "pkg.shapes:Square.__eq__")
    ]
    assert refs_targets(fake_qlo) == [["pkg/shapes.py:5:9"], ["pkg/shapes.py:1:7"], ["pkg/__init__.py:1:34"], ["pkg/geo.py:4:5"]]


# ---- the README's example ---------------------------------------------------------------


def test_the_bundled_example_selects_the_tests_its_change_reaches(pindrel):
    root = Path(__file__).resolve().parents[2]
    build_dir = os.path.relpath(pindrel.binary.parent, root)
    proc = subprocess.run(
        [str(root / "scripts/example"), build_dir], env=pindrel.env, capture_output=True, text=True, timeout=120
    )
    assert proc.returncode == 0, proc
    out = re.sub(r"merge-base [0-9a-f]{7}\)", "merge-base M)", proc.stdout)
    out = re.sub(r", \d+ ms\n", ", N ms\n", out)
    assert (
        "$ pindrel impacted-tests\n"
        "base main (merge-base M)\n"
        "verdict selected\n"
        "\n"
        "impacted tests (3)\n"
        "  tests/test_cart.py::test_total\n"
        "    ← shop.cart:Cart.total ← shop.pricing:discounted\n"
        "  tests/test_cart.py::test_total_with_discount\n"
        "    ← shop.cart:Cart.total ← shop.pricing:discounted\n"
        "  tests/test_pricing.py::test_discounted\n"
        "    ← shop.pricing:discounted\n"
        "\n"
        "2 symbol(s) visited, 3 qlo call(s), N ms\n"
    ) in out
