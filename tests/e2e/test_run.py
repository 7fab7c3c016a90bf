"""`pindrel run`: pytest on the selection or the whole suite, the fallback command, nothing, and
the dry run, with real pytest and the stand-in reference tool."""

import json
import os
import re
import subprocess
import textwrap
from pathlib import Path

import pytest

PYTEST = ["/usr/bin/python3", "-m", "pytest"]


def src(text: str) -> str:
    return textwrap.dedent(text).lstrip("\n")


PYPROJECT = src(
    """
    [project]
    name = "demo"

    [tool.pytest.ini_options]
    pythonpath = ["."]
    addopts = "-p no:cacheprovider"

    [tool.pindrel]
    pytest-command = ["/usr/bin/python3", "-m", "pytest"]
    """
)

# net is named at 1:5; tests/test_prices.py calls it on line 5, inside test_net.
PROJECT = {
    "pkg/__init__.py": "",
    "pkg/prices.py": "def net(amount):\n    return amount\n",
    # Nothing imports or names it.
    "pkg/spare.py": "def spare():\n    return 1\n",
    "tests/test_prices.py": src(
        """
        from pkg.prices import net


        def test_net():
            assert net(2) == 2


        def test_other():
            assert True
        """
    ),
    # Writes the git and pindrel variables it sees to the file ENV_DUMP names.
    "tests/test_env.py": src(
        """
        import json
        import os


        def test_env():
            if "ENV_DUMP" in os.environ:
                seen = {k: v for k, v in os.environ.items() if k.startswith(("GIT_", "PINDREL_"))}
                with open(os.environ["ENV_DUMP"], "w") as out:
                    json.dump(seen, out)
        """
    ),
    # Records how it was started in the directory FALLBACK_OUT names, and exits 3.
    "scripts/fallback.sh": src(
        """
        #!/bin/sh
        cat > "$FALLBACK_OUT/stdin"
        printf '%s\\n' "$@" > "$FALLBACK_OUT/args"
        pwd > "$FALLBACK_OUT/cwd"
        printf '%s' "${PINDREL_FALLBACK_REASON-unset}" > "$FALLBACK_OUT/reason"
        printf '%s' "${GIT_DIR-unset}" > "$FALLBACK_OUT/git_dir"
        exit 3
        """
    ),
}

NET = "pkg/prices.py:1:5"
NET_REACHES_TEST_NET = {
    "refs": {
        "targets": {
            NET: {
                "symbol": "pkg.prices:net",
                "reference_count": 0,
                "references": [],
                "test_reference_count": 1,
                "test_references": [{"file": "tests/test_prices.py", "line": 5, "column": 12, "context": ""}],
            }
        }
    }
}


@pytest.fixture
def demo(repo, fake_qlo):
    """The project committed on main, with net changed in the working tree; the reference tool
    answers that test_net reaches net."""
    make_demo(repo)
    fake_qlo.set(NET_REACHES_TEST_NET)
    return repo


def make_demo(repo, pindrel_table="", extra=None):
    """Commits the project, with `pindrel_table` added to its [tool.pindrel] table (None: no table)."""
    pyproject = PYPROJECT.split("[tool.pindrel]")[0] if pindrel_table is None else PYPROJECT + pindrel_table
    files = {"pyproject.toml": pyproject, **PROJECT, **(extra or {})}
    for rel, text in files.items():
        repo.write(rel, text)
    (repo.path / "scripts/fallback.sh").chmod(0o755)
    repo.commit("demo project")
    repo.root = repo.path.resolve()
    set_net(repo, "amount + 0")


def set_net(repo, body):
    repo.write("pkg/prices.py", f"def net(amount):\n    return {body}\n")


def change_only_spare(repo):
    """Leaves net as committed and changes a function that nothing reaches."""
    set_net(repo, "amount")
    repo.write("pkg/spare.py", "def spare():\n    return 2\n")


def hook_env(repo):
    """What a git hook exports: the repository's variables, one of them empty."""
    git_dir = repo.root / ".git"
    return {"GIT_DIR": str(git_dir), "GIT_INDEX_FILE": str(git_dir / "index"), "GIT_PREFIX": ""}


def ms_normalised(text):
    return re.sub(r" in \d+ ms — ", " in N ms — ", text)


def run(pindrel, repo, fake_qlo, *args, env=None, **kwargs):
    return pindrel("run", *args, cwd=repo.path, env={**fake_qlo.env, **(env or {})}, **kwargs)


SELECTED_TEXT = """\
decision: selected
pindrel: 1 node id(s) from 1 origin(s) in N ms — details: pindrel impacted-tests
git env: isolate — removes GIT_DIR, GIT_INDEX_FILE, GIT_PREFIX

tests/test_prices.py::test_net
  ← pkg.prices:net

argv
  /usr/bin/python3
  -m
  pytest
  tests/test_prices.py::test_net
  -q
"""


def test_dry_run_prints_the_plan_and_runs_nothing(pindrel, demo, fake_qlo, tmp_path):
    env = {**hook_env(demo), "ENV_DUMP": str(tmp_path / "env.json")}
    r = run(pindrel, demo, fake_qlo, "--dry-run", "--", "-q", env=env)
    assert (r.status, r.err, ms_normalised(r.out)) == (0, "", SELECTED_TEXT)

    r = run(pindrel, demo, fake_qlo, "--dry-run", "--format", "json", "--", "-q", env=env)
    assert (r.status, r.err) == (0, "")
    assert r.out.endswith("\n}")
    assert json.loads(r.out) == {
        "argv": [*PYTEST, "tests/test_prices.py::test_net", "-q"],
        "decision": "selected",
        "dropped": [],
        "expanded": [],
        "fallback": None,
        "git_env": {"policy": "isolate", "removed": ["GIT_DIR", "GIT_INDEX_FILE", "GIT_PREFIX"]},
        "node_ids": [{"node_id": "tests/test_prices.py::test_net", "origin": "pkg.prices:net", "via": []}],
        "reason": None,
        "verdict": "selected",
    }
    assert not (tmp_path / "env.json").exists()


@pytest.mark.parametrize("body, status, summary", [("amount + 0", 0, "1 passed"), ("amount + 1", 1, "1 failed")])
def test_run_becomes_pytest_on_the_selection_with_its_exit_status(pindrel, demo, fake_qlo, body, status, summary):
    set_net(demo, body)
    # One stream for both outputs shows that pindrel's line comes first and nothing is lost.
    r = run(pindrel, demo, fake_qlo, "--", "-v", stderr=subprocess.STDOUT)
    assert r.status == status, r
    first, rest = r.out.split("\n", 1)
    assert ms_normalised(first) == "pindrel: 1 node id(s) from 1 origin(s) in N ms — details: pindrel impacted-tests"
    assert "tests/test_prices.py::test_net " in rest and "test_other" not in rest and summary in rest


def test_run_all_runs_the_whole_suite_with_the_words_after_dashes(pindrel, demo, fake_qlo):
    demo.write("README.md", "changed\n")
    r = run(pindrel, demo, fake_qlo, "--", "-q", "-k", "not env")
    assert (r.status, r.err) == (0, "pindrel: full suite — non-Python files changed\n"), r
    assert "2 passed, 1 deselected" in r.out


def test_a_changed_file_whose_name_is_not_utf8_runs_the_whole_suite(pindrel, repo, fake_qlo):
    broken = os.fsdecode(b"tests/test_caf\xe9.py")
    make_demo(repo, extra={broken: "def test_cafe():\n    assert True\n"})
    set_net(repo, "amount")  # the only change is the file below
    repo.write(broken, "def test_cafe():\n    assert False\n")

    r = run(pindrel, repo, fake_qlo, "--dry-run", "--", "-q")
    assert (r.status, r.err) == (0, ""), r
    assert r.out.startswith(
        "decision: run_all\npindrel: full suite — the working tree could not be read\n"
    ), r.out

    r = run(pindrel, repo, fake_qlo, "--", "-q", "-k", "not env")
    assert (r.status, r.err) == (1, "pindrel: full suite — the working tree could not be read\n"), r
    assert "1 failed, 2 passed" in r.out, r
    assert fake_qlo.runs() == []


def test_nothing_impacted_runs_nothing_not_even_the_fallback(pindrel, repo, fake_qlo, tmp_path):
    make_demo(repo, 'fallback-command = ["scripts/fallback.sh"]\n')
    change_only_spare(repo)
    fake_qlo.set({"refs": {"targets": {}}})
    r = run(pindrel, repo, fake_qlo, env={"FALLBACK_OUT": str(tmp_path)})
    assert (r.status, r.out, r.err) == (0, "", "pindrel: no tests impacted — nothing to run\n")
    assert not (tmp_path / "stdin").exists()

    r = run(pindrel, repo, fake_qlo, "--dry-run")
    assert (r.status, r.err) == (0, "")
    assert r.out == (
        "decision: nothing\npindrel: no tests impacted — nothing to run\n\nargv: none — nothing would be run\n"
    )


@pytest.mark.parametrize(
    "table, args, removed",
    [
        ("", [], True),
        ("", ["--git-env", "inherit"], False),
        ('git-env = "inherit"\n', [], False),
        ('git-env = "inherit"\n', ["--git-env", "isolate"], True),
    ],
)
def test_git_environment_policy_inside_a_hook(pindrel, repo, fake_qlo, tmp_path, table, args, removed):
    make_demo(repo, table)
    repo.write("README.md", "changed\n")
    dump = tmp_path / "env.json"
    r = run(pindrel, repo, fake_qlo, *args, "--", "-q", env={**hook_env(repo), "ENV_DUMP": str(dump)})
    assert r.status == 0, r
    seen = json.loads(dump.read_text())
    expected = {} if removed else hook_env(repo)
    assert {k: v for k, v in seen.items() if k in hook_env(repo)} == expected
    assert seen["GIT_AUTHOR_NAME"] == "Test"  # not a repository-local variable


def expected_payload(reason, report_text):
    """The payload as the fallback command reads it: the report nested two spaces deeper."""
    report = report_text.replace("\n", "\n  ") if report_text else "null"
    return f'{{\n  "pindrel_fallback_payload_version": 1,\n  "reason": "{reason}",\n  "report": {report}\n}}\n'


def test_fallback_gets_the_payload_and_reason_and_its_status_is_the_runs(pindrel, repo, fake_qlo, tmp_path):
    make_demo(repo, 'fallback-command = ["scripts/fallback.sh", "--from-pindrel"]\n')
    repo.write("README.md", "changed\n")
    changes = pindrel("changed-symbols", "--format", "json", cwd=repo.path)
    assert changes.status == 0, changes

    r = run(pindrel, repo, fake_qlo, env={**hook_env(repo), "FALLBACK_OUT": str(tmp_path)})
    assert r.status == 3, r
    assert r.err == (
        "pindrel: full suite — non-Python files changed\n"
        f'pindrel: delegating to fallback ["{repo.root}/scripts/fallback.sh","--from-pindrel"] '
        "(from fallback-command in pyproject.toml)\n"
    )
    assert (tmp_path / "stdin").read_text() == expected_payload("non_python_changes", changes.out)
    assert (tmp_path / "reason").read_text() == "non_python_changes"
    assert (tmp_path / "args").read_text() == "--from-pindrel\n"
    assert (tmp_path / "cwd").read_text() == f"{repo.root}\n"
    assert (tmp_path / "git_dir").read_text() == str(repo.root / ".git")  # the fallback inherits

    r = run(pindrel, repo, fake_qlo, "--dry-run", env=hook_env(repo))
    assert (r.status, r.err) == (0, "")
    assert r.out == (
        "decision: run_all\n"
        "pindrel: full suite — non-Python files changed\n"
        "git env: inherit\n"
        "\n"
        f'would exec fallback: ["{repo.root}/scripts/fallback.sh","--from-pindrel"] (reason: non_python_changes)\n'
        "  from: fallback-command in pyproject.toml\n"
        "\n"
        "argv\n"
        f"  {repo.root}/scripts/fallback.sh\n"
        "  --from-pindrel\n"
    )

    r = run(pindrel, repo, fake_qlo, "--dry-run", "--format", "json")
    plan = json.loads(r.out)
    report = plan["fallback"]["payload"]["report"]
    assert list(report) == sorted(report) and report == json.loads(changes.out)
    assert plan["fallback"] == {
        "argv": [f"{repo.root}/scripts/fallback.sh", "--from-pindrel"],
        "payload": {"pindrel_fallback_payload_version": 1, "reason": "non_python_changes", "report": report},
        "reason": "non_python_changes",
        "source": "config",
    }
    assert (plan["argv"], plan["git_env"]) == (plan["fallback"]["argv"], {"policy": "inherit", "removed": []})


def impact_report(verdict, reason, tests=()):
    return json.dumps(
        {
            "verdict": verdict,
            "reason": reason,
            "base": "main",
            "merge_base": "0" * 40,
            "impacted_tests": [
                {"file": f, "symbol": s, "via": [], "origin": "pkg.prices:net", "kind": "test"} for f, s in tests
            ],
            "test_files_changed": [],
            "ignored_symbols": [],
            "ignored_paths": [],
            "stats": {"seeds": 0, "visited": 0, "max_depth_reached": 0, "qlo_calls": 0, "duration_ms": 0},
            "errors": [],
        }
    )


def test_replayed_run_all_without_reason_gives_the_fallback_unspecified_and_no_report(
    pindrel, demo, fake_qlo, tmp_path
):
    saved = tmp_path / "impact.json"
    saved.write_text(impact_report("run_all", None))
    r = run(pindrel, demo, fake_qlo, "--impact", saved, "--fallback-command", '["scripts/fallback.sh"]',
            env={"FALLBACK_OUT": str(tmp_path)})
    assert r.status == 3, r
    assert r.err.startswith("pindrel: full suite — no reason given\npindrel: delegating to fallback ")
    assert (tmp_path / "stdin").read_text() == expected_payload("unspecified", None)
    assert (tmp_path / "reason").read_text() == "unspecified"
    assert fake_qlo.runs() == []


def test_replayed_selection_where_the_file_listing_fails_runs_the_whole_suite(pindrel, demo, fake_qlo, tmp_path):
    saved = tmp_path / "impact.json"
    saved.write_text(impact_report("selected", None, [("tests/test_prices.py", "tests.test_prices:test_net")]))
    failing_git = tmp_path / "git"
    failing_git.write_text('#!/bin/sh\nfor a; do [ "$a" = ls-files ] && exit 128; done\nexec git "$@"\n')
    failing_git.chmod(0o755)
    r = run(pindrel, demo, fake_qlo, "--impact", saved, "--", "-q", "-k", "not env",
            env={"PINDREL_GIT": str(failing_git)})
    assert (r.status, r.err) == (0, "pindrel: full suite — the working tree could not be read\n"), r
    assert "2 passed" in r.out

    r = run(pindrel, demo, fake_qlo, "--impact", saved, "--", "-q")
    assert r.status == 0 and r.err.startswith("pindrel: 1 node id(s) from 1 origin(s) in "), r
    assert "1 passed" in r.out


@pytest.mark.parametrize(
    "content, message",
    [
        (None, "cannot read --impact saved.json: No such file or directory (os error 2)"),
        (b"\xff", "cannot read --impact saved.json: stream did not contain valid UTF-8"),
        (b"{}", "cannot parse saved.json as an impacted-tests report: missing field `verdict` at line 1 column 2"),
        # A device is refused, not read without end.
        (Path("/dev/zero"), "cannot read --impact saved.json: not a regular file"),
    ],
)
def test_replay_errors(pindrel, demo, fake_qlo, content, message):
    if isinstance(content, Path):
        (demo.path / "saved.json").symlink_to(content)
    elif content is not None:
        (demo.path / "saved.json").write_bytes(content)
    r = run(pindrel, demo, fake_qlo, "--impact", "saved.json")
    assert (r.status, r.out, r.err) == (2, "", f"pindrel: {message}\n")


EXAMPLE = ' must be a JSON array of strings, e.g. ["scripts/pick.sh", "--from-pindrel"]; got: '
EMPTY = " is an empty argv; name a command to run, or remove it to keep the default (the full suite under pytest)"


@pytest.mark.parametrize(
    "flag, variable, configured, outcome",
    [
        ('["a.sh"]', '["b.sh"]', '["c.sh"]', '["a.sh"] (reason: non_python_changes)\n  from: --fallback-command'),
        (None, '["scripts/b.sh"]', '["c.sh"]', '["{root}/scripts/b.sh"] (reason: non_python_changes)\n  from: PINDREL_FALLBACK'),
        ('["a.sh"]', "a.sh", None, "PINDREL_FALLBACK" + EXAMPLE + "a.sh: expected value at line 1 column 1"),
        ("[1]", "{}", None,
         "--fallback-command" + EXAMPLE + "[1]: invalid type: integer `1`, expected a string at line 1 column 2"),
        ('["a.sh"]', None, "[]", "fallback-command in pyproject.toml" + EMPTY),
        (None, None, "[]", "fallback-command in pyproject.toml" + EMPTY),
        ("[]", None, None, "--fallback-command" + EMPTY),
        (None, "", None, "PINDREL_FALLBACK" + EXAMPLE + ": EOF while parsing a value at line 1 column 0"),
        ('["a.sh"] x', None, None, "--fallback-command" + EXAMPLE + '["a.sh"] x: trailing characters at line 1 column 10'),
        ('["a.sh"]', b'["\xff"]', None,
         'cannot read PINDREL_FALLBACK: environment variable was not valid unicode: "[\\"\\xFF\\"]"'),
    ],
)
def test_fallback_sources(pindrel, repo, fake_qlo, flag, variable, configured, outcome):
    make_demo(repo, f"fallback-command = {configured}\n" if configured else "")
    repo.write("README.md", "changed\n")
    args = ["--fallback-command", flag] if flag is not None else []
    env = {"PINDREL_FALLBACK": variable} if variable is not None else {}
    r = run(pindrel, repo, fake_qlo, "--dry-run", *args, env=env)
    outcome = outcome.replace("{root}", str(repo.root))
    if " from: " in outcome:
        assert (r.status, r.err) == (0, ""), r
        assert f"would exec fallback: {outcome}\n" in r.out
    else:
        assert (r.status, r.out, r.err) == (2, "", f"pindrel: {outcome}\n")
        assert fake_qlo.runs() == []  # settled before any report is computed


SELECTED_LINE = "pindrel: 1 node id(s) from 1 origin(s) in N ms — details: pindrel impacted-tests\n"
NO_SUCH_FILE = "No such file or directory (os error 2)"


@pytest.mark.parametrize(
    "args, env, message",
    [
        ([], {"PINDREL_PYTEST": "/usr/bin/python3 -m pytest"},
         f"failed to exec `/usr/bin/python3 -m pytest tests/test_prices.py::test_net -q`: {NO_SUCH_FILE}"),
        ([], {"PINDREL_PYTEST": ""}, f"failed to exec ` tests/test_prices.py::test_net -q`: {NO_SUCH_FILE}"),
    ],
)
def test_pytest_exec_failures(pindrel, demo, fake_qlo, args, env, message):
    r = run(pindrel, demo, fake_qlo, *args, "--", "-q", env=env)
    assert (r.status, r.out, ms_normalised(r.err)) == (2, "", SELECTED_LINE + f"pindrel: {message}\n")


def test_pytest_gets_its_words_unchanged_and_starts_in_the_top_level(pindrel, demo, fake_qlo, tmp_path):
    recorder_dir = tmp_path / "a dir"
    recorder_dir.mkdir()
    recorder = recorder_dir / "record pytest"
    recorder.write_text(f'#!/bin/sh\npwd > "{tmp_path}/cwd"\nprintf "%s\\0" "$@" > "{tmp_path}/argv"\nexit 5\n')
    recorder.chmod(0o755)
    r = pindrel("run", "--", b"-k", b"caf\xe9 \xff", cwd=demo.path / "pkg",
                env={**fake_qlo.env, "PINDREL_PYTEST": str(recorder)})
    assert r.status == 5, r
    assert (tmp_path / "argv").read_bytes() == b"tests/test_prices.py::test_net\0-k\0caf\xe9 \xff\0"
    assert (tmp_path / "cwd").read_text() == f"{demo.root}\n"

    r = pindrel("run", "--dry-run", "--format", "json", "--", b"\xff", cwd=demo.path,
                env={**fake_qlo.env, "PINDREL_PYTEST": str(recorder)})
    assert json.loads(r.out)["argv"] == [str(recorder), "tests/test_prices.py::test_net", "\ufffd"]


FALLBACK_FROM_FLAG = "the fallback command from --fallback-command could not be started"


@pytest.mark.parametrize(
    "command, env, message",
    [
        ('["no-such-fallback"]', {}, f"failed to exec `no-such-fallback`: {NO_SUCH_FILE}"),
        ('["/bin/echo", "a\\u0000b"]', {}, "failed to exec `/bin/echo a\0b`: nul byte found in provided data"),
        ('["/bin/echo"]', {"TMPDIR": "/nonexistent-dir"}, f"could not create a file for stdin: {NO_SUCH_FILE}"),
    ],
)
def test_fallback_exec_failures(pindrel, demo, fake_qlo, command, env, message):
    demo.write("README.md", "changed\n")
    r = run(pindrel, demo, fake_qlo, "--fallback-command", command, env=env)
    summary, delegating, error, end = r.err_bytes.decode("utf-8").split("\n")
    assert (r.status, r.out, summary, error, end) == (
        2, "", "pindrel: full suite — non-Python files changed", f"pindrel: {FALLBACK_FROM_FLAG}: {message}", ""
    )
    assert delegating.startswith("pindrel: delegating to fallback ")


def path_without_pytest(tmp_path, with_pytest):
    """A PATH that holds no pytest, or a stand-in one; git is named through PINDREL_GIT."""
    bin_dir = tmp_path / "bin"
    bin_dir.mkdir()
    if with_pytest:
        (bin_dir / "pytest").symlink_to("/usr/bin/pytest")
    return {"PATH": str(bin_dir), "PINDREL_GIT": "/usr/bin/git"}


NOT_ON_PATH = (
    "pindrel: `pytest` not found on PATH. Set `pytest-command` under [tool.pindrel] in pyproject.toml, "
    "or point PINDREL_PYTEST at the binary.: cannot find binary path\n"
)


def test_pytest_found_on_path_or_not(pindrel, repo, fake_qlo, tmp_path):
    make_demo(repo, pindrel_table=None)
    fake_qlo.set(NET_REACHES_TEST_NET)
    r = run(pindrel, repo, fake_qlo, "--dry-run", env=path_without_pytest(tmp_path, True))
    assert (r.status, r.err) == (0, "")
    assert r.out.endswith(f"\nargv\n  {tmp_path}/bin/pytest\n  tests/test_prices.py::test_net\n")

    env = {"PATH": "/nonexistent", "PINDREL_GIT": "/usr/bin/git"}
    r = run(pindrel, repo, fake_qlo, "--dry-run", env=env)
    assert (r.status, r.err) == (0, NOT_ON_PATH)
    assert r.out.endswith("\nargv: unknown — pytest could not be resolved\n")

    r = run(pindrel, repo, fake_qlo, "--dry-run", "--format", "json", env=env)
    assert (r.status, r.err, json.loads(r.out)["argv"]) == (0, NOT_ON_PATH, [])

    r = run(pindrel, repo, fake_qlo, env=env)
    assert (r.status, r.out, ms_normalised(r.err)) == (2, "", SELECTED_LINE + NOT_ON_PATH)

    change_only_spare(repo)
    fake_qlo.set({"refs": {"targets": {}}})
    r = run(pindrel, repo, fake_qlo, "--dry-run", env=env)
    assert (r.status, r.err) == (0, "")
    assert r.out.endswith("\nargv: none — nothing would be run\n")


OWN_REPOSITORY_TEST = src(
    """
    import subprocess

    from pkg.prices import net


    def test_own_repository(tmp_path):
        assert net(1) == 1
        def git(*args):
            return subprocess.run(["git", *args], cwd=tmp_path, capture_output=True, text=True, check=True).stdout
        git("init", "-q")
        (tmp_path / "f.txt").write_text("x")
        git("add", "f.txt")
        assert git("status", "--porcelain") == "A  f.txt\\n"
    """
)


def test_the_hook_that_guide_setup_wires_passes_or_fails_the_commit(pindrel, repo, fake_qlo, tmp_path):
    guide = pindrel("guide", "setup", cwd=tmp_path)
    hook_command = re.search(r'cmd = "([^"]+)"', guide.out).group(1)
    assert hook_command == "pindrel run -- -q"

    make_demo(repo, extra={"tests/test_repo.py": OWN_REPOSITORY_TEST})
    references = [{"file": f, "line": n, "column": 12, "context": ""}
                  for f, n in [("tests/test_prices.py", 5), ("tests/test_repo.py", 7)]]
    fake_qlo.set({"refs": {"targets": {NET: {"symbol": "pkg.prices:net", "reference_count": 0, "references": [],
                                             "test_reference_count": 2, "test_references": references}}}})
    bin_dir = tmp_path / "bin"
    bin_dir.mkdir()
    (bin_dir / "pindrel").symlink_to(pindrel.binary)
    hook = repo.path / ".git/hooks/pre-commit"
    hook_env_dump = tmp_path / "hook-env"
    hook.write_text(f"#!/bin/sh\nenv > {hook_env_dump}\n{hook_command}\n")
    hook.chmod(0o755)
    env = {**repo.env, **fake_qlo.env, "PATH": f"{bin_dir}:{os.environ['PATH']}"}

    # With -a git hands the hook a temporary index by its absolute path, which a test's own
    # repository would pick up if it inherited it.
    def commit():
        return subprocess.run(["git", "commit", "-q", "-a", "-m", "change net"], cwd=repo.path, env=env,
                              capture_output=True, text=True)

    # git shows a hook's output on its standard error.
    set_net(repo, "amount if amount < 2 else 0")
    failed = commit()
    assert failed.returncode == 1, failed
    assert f"GIT_INDEX_FILE={repo.root}/.git/index.lock" in hook_env_dump.read_text()
    first, rest = failed.stderr.split("\n", 1)
    assert ms_normalised(first) == "pindrel: 2 node id(s) from 1 origin(s) in N ms — details: pindrel impacted-tests"
    assert "FAILED tests/test_prices.py::test_net" in rest and "1 failed, 1 passed" in rest
    assert repo.git("log", "-1", "--format=%s").strip() == "demo project"

    set_net(repo, "amount + 0")
    passed = commit()
    assert passed.returncode == 0, passed
    assert "2 passed" in passed.stderr
    assert repo.git("log", "-1", "--format=%s").strip() == "change net"


def replay(pindrel, repo, fake_qlo, tmp_path, tests, *args, test_files_changed=(), env=None, **kwargs):
    """`run --impact` of a saved report that names `tests` ((file, symbol) pairs) and `test_files_changed`."""
    saved = tmp_path / "impact.json"
    report = json.loads(impact_report("selected", None, tests))
    report["test_files_changed"] = list(test_files_changed)
    saved.write_text(json.dumps(report))
    return run(pindrel, repo, fake_qlo, "--impact", saved, *args, env=env, **kwargs)


NESTED_TESTS = src(
    """
    class TestA:
        def test_x(self):
            pass

        class TestB:
            def test_y(self):
                pass
    """
)


def test_a_node_beside_its_selected_class_runs_once(pindrel, demo, fake_qlo, tmp_path):
    demo.write("tests/test_nested.py", NESTED_TESTS)
    tests = [("tests/test_nested.py", f"tests.test_nested:{q}") for q in ("TestA", "TestA.TestB.test_y", "TestA.test_x")]
    r = replay(pindrel, demo, fake_qlo, tmp_path, tests, "--", "-q")
    assert r.status == 0, r
    assert r.err.startswith("pindrel: 1 node id(s) from 1 origin(s) in "), r
    assert "2 passed" in r.out and "test_prices" not in r.out, r


def test_paths_that_look_like_options_reach_pytest_as_paths(pindrel, demo, fake_qlo, tmp_path):
    demo.write("-k/test_dash.py", "def test_dash():\n    pass\n")
    demo.write("-a_test.py", "def test_a():\n    pass\n\n\ndef test_b():\n    pass\n")
    r = replay(pindrel, demo, fake_qlo, tmp_path, [("-a_test.py", "-a_test:test_a")], "--", "-v",
               test_files_changed=["-k/test_dash.py"])
    assert r.status == 0, r
    assert "-a_test.py::test_a PASSED" in r.out and "-k/test_dash.py::test_dash PASSED" in r.out, r
    assert "2 passed" in r.out and "test_b" not in r.out and "test_prices" not in r.out, r

    r = replay(pindrel, demo, fake_qlo, tmp_path, [("-a_test.py", "-a_test:test_a")], "--dry-run", "--format", "json",
               test_files_changed=["-k/test_dash.py"])
    plan = json.loads(r.out)
    assert [n["node_id"] for n in plan["node_ids"]] == ["-a_test.py::test_a", "-k/test_dash.py"]
    assert plan["argv"] == [*PYTEST, "./-a_test.py::test_a", "./-k/test_dash.py"]


def test_a_replayed_report_reads_only_regular_files_inside_the_repository(pindrel, demo, fake_qlo, tmp_path):
    outside = tmp_path / "test_outside.py"
    outside.write_text("def test_outside():\n    pass\n")
    (demo.path / "tests/test_zero.py").symlink_to("/dev/zero")
    escaping = ["/dev/zero", "../../../../../../../../dev/zero", str(outside), "../test_outside.py",
                "tests/test_zero.py"]
    tests = [(path, "tests.test_x:test_x") for path in escaping] + [("tests/test_prices.py", None)]
    r = replay(pindrel, demo, fake_qlo, tmp_path, tests, "--dry-run", "--format", "json",
               test_files_changed=escaping)
    assert r.status == 0, r
    plan = json.loads(r.out)
    assert [n["node_id"] for n in plan["node_ids"]] == ["tests/test_prices.py"]
    assert plan["dropped"] == [{"entry": "tests.test_x:test_x", "why": "deleted"}] * len(escaping) + [
        {"entry": path, "why": "deleted"} for path in escaping
    ]

    r = replay(pindrel, demo, fake_qlo, tmp_path, tests, "--", "-q", test_files_changed=escaping)
    assert r.status == 0 and "2 passed" in r.out and "outside" not in r.out, r


def small_stack():
    """A 1 MiB stack limit, which makes the kernel's limit on argv and environment 256 KiB."""
    import resource

    resource.setrlimit(resource.RLIMIT_STACK, (1 << 20, 1 << 20))


def test_a_selection_too_long_for_the_argument_limit_runs_whole_files_or_the_whole_suite(
    pindrel, demo, fake_qlo, tmp_path
):
    many = 8000  # their node ids alone take some 300 KiB
    demo.write("tests/test_many.py", "".join(f"def test_{i}():\n    pass\n\n" for i in range(many)))
    tests = [("tests/test_many.py", f"tests.test_many:test_{i}") for i in range(many)]
    r = replay(pindrel, demo, fake_qlo, tmp_path, tests, "--", "-q", preexec_fn=small_stack)
    assert r.status == 0, r.err[:500]
    assert ms_normalised(r.err) == (
        "pindrel: 1 node id(s) from 1 origin(s) in N ms — folded into whole files to fit the argument limit"
        " — details: pindrel impacted-tests\n"
    )
    assert f"{many} passed" in r.out and "test_prices" not in r.out

    # A few hundred long paths leave no room once the environment takes most of it.
    long_dir = "tests/" + "d" * 150
    for i in range(300):
        demo.write(f"{long_dir}/test_f{i}.py", "def test_f():\n    pass\n")
    padding = {f"PAD{i}": "x" * 100_000 for i in range(2)}
    tests = [(f"{long_dir}/test_f{i}.py", None) for i in range(300)]
    r = replay(pindrel, demo, fake_qlo, tmp_path, tests, "--", "-q", "-k", "not env", env=padding,
               preexec_fn=small_stack)
    assert r.status == 0, r.err[:500]
    assert r.err == "pindrel: full suite — the selection does not fit the argument limit, even as whole files\n"
    assert f"{many + 300 + 2} passed, 1 deselected" in r.out


# A project below the top level with its own pytest settings: its tests import from src/, and only
# its testpaths hold tests (tools/ holds a file that fails wherever it is collected).
SUBPROJECT = {
    "svc/api/pyproject.toml": src(
        """
        [tool.pytest.ini_options]
        pythonpath = ["src"]
        testpaths = ["tests"]
        addopts = "-p no:cacheprovider"
        """
    ),
    "svc/api/src/apimod.py": "def answer():\n    return 42\n",
    "svc/api/tests/test_api.py": "from apimod import answer\n\n\ndef test_answer():\n    assert answer() == 42\n",
    "svc/api/tools/test_tool.py": "def test_tool():\n    assert False, 'outside testpaths'\n",
}


def test_the_whole_suite_of_a_project_below_the_top_level_is_that_projects(pindrel, repo, fake_qlo):
    make_demo(repo, extra=SUBPROJECT)
    repo.write("README.md", "changed\n")
    api = repo.root / "svc/api"
    for args, cwd in [(["--workspace", "svc/api"], repo.path), ([], api)]:
        r = pindrel(*args, "run", "--", "-v", cwd=cwd, env=fake_qlo.env)
        assert (r.status, r.err) == (0, "pindrel: full suite — non-Python files changed\n"), r
        assert "tests/test_api.py::test_answer PASSED" in r.out and "1 passed" in r.out, r
        assert "test_tool" not in r.out and "test_prices" not in r.out, r

    r = pindrel("run", "--dry-run", cwd=api, env=fake_qlo.env)
    assert r.out.endswith(f"\nargv, started in svc/api\n  {PYTEST[0]}\n  -m\n  pytest\n"), r
    r = pindrel("run", "--dry-run", "--format", "json", cwd=api, env=fake_qlo.env)
    plan = json.loads(r.out)
    assert (plan["argv"], plan["cwd"]) == (PYTEST, "svc/api")

    # The top level keeps its own whole suite, started there.
    r = pindrel("run", "--dry-run", "--format", "json", cwd=repo.path, env=fake_qlo.env)
    plan = json.loads(r.out)
    assert plan["argv"] == PYTEST and "cwd" not in plan
