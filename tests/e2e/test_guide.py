"""`pindrel guide`: the topic choice, the header and the framing of the output."""

import subprocess

import pytest

TITLES = {
    "setup": "# Setup pindrel in this repository",
    "triage": "# Triage a pindrel report",
    "tune": "# Tune pindrel",
}
NEXT_LINES = {
    "setup": "next: run `pindrel impacted-tests`",
    "triage": "next: run `pindrel run -- -q`",
    "tune": "next: run `pindrel run --dry-run`",
}

HOOK_STEP = """\
[project]
name = "app"

[tool.tolvane]
extend_check = [
  { name = "pindrel", cmd = "pindrel run -- -q", pass_files = false, timeout_s = 120 },
]
"""

CONFIGURED = "# pindrel guide: configured via pyproject.toml [tool.tolvane] -> triage"
NOT_CONFIGURED = "# pindrel guide: not configured here -> setup"


def split_output(result):
    """The header and the topic text, checking the framing between and after them."""
    assert result.status == 0, result
    assert result.err == ""
    header, sep, text = result.out.partition("\n\n")
    assert sep, result.out
    assert "\n" not in header
    assert result.out.endswith("`\n") and not result.out.endswith("\n\n")
    return header, text


def topic_text(pindrel, topic, cwd):
    header, text = split_output(pindrel("guide", topic, cwd=cwd))
    assert header == f"# pindrel guide: {topic}"
    return text


@pytest.mark.parametrize("topic", ["setup", "triage", "tune"])
def test_explicit_topic_wins_over_the_configuration(pindrel, repo, topic):
    repo.write("pyproject.toml", HOOK_STEP)
    header, text = split_output(pindrel("guide", topic, cwd=repo.path))
    assert header == f"# pindrel guide: {topic}"
    assert text.startswith(TITLES[topic] + "\n\n")
    assert text.endswith("\n" + NEXT_LINES[topic] + "\n")


def test_the_three_topics_differ(pindrel, tmp_path):
    texts = {topic_text(pindrel, topic, tmp_path) for topic in TITLES}
    assert len(texts) == 3


def test_hook_step_naming_the_program_chooses_triage(pindrel, repo):
    repo.write("pyproject.toml", HOOK_STEP)
    header, text = split_output(pindrel("guide", cwd=repo.path))
    assert header == CONFIGURED
    assert text == topic_text(pindrel, "triage", repo.path)


@pytest.mark.parametrize(
    "toml",
    [
        pytest.param('[tool]\ntolvane = "pindrel run -- -q"\n', id="tolvane-is-a-string"),
        pytest.param('[tool.tolvane]\ncmd = ".venv/bin/pindrel-hook"\n', id="inside-a-longer-path"),
        pytest.param('[tool.tolvane.steps.pre]\nrun = ["uv", "run", "pindrel"]\n', id="nested"),
    ],
)
def test_any_string_under_tolvane_that_contains_the_name_configures(pindrel, repo, toml):
    repo.write("pyproject.toml", toml)
    header, _ = split_output(pindrel("guide", cwd=repo.path))
    assert header == CONFIGURED


@pytest.mark.parametrize(
    "toml",
    [
        pytest.param(None, id="no-pyproject"),
        pytest.param('[project]\nname = "app"\n', id="no-tool-table"),
        pytest.param("[tool.tolvane]\npindrel = true\n", id="only-a-key-names-it"),
        pytest.param('[tool.tolvane]\ncmd = "PINDREL run"\n', id="capitals"),
        pytest.param("[tool.tolvane]\nsteps = [1, 2.5, false, 1979-05-27]\n", id="no-strings"),
        pytest.param('[tool.pindrel]\nmax-depth = 3\n[tool.ruff]\ncmd = "pindrel"\n', id="other-tools"),
        pytest.param('tool = "pindrel"\n', id="tool-not-a-table"),
        pytest.param(HOOK_STEP + "[broken\n", id="syntax-error"),
        pytest.param(HOOK_STEP + "[tool.tolvane]\n", id="table-defined-twice"),
        pytest.param(HOOK_STEP.encode() + b"# \xff\n", id="not-utf8"),
    ],
)
def test_anything_else_means_setup_silently(pindrel, repo, toml):
    if toml is not None:
        repo.write("pyproject.toml", toml)
    header, text = split_output(pindrel("guide", cwd=repo.path))
    assert header == NOT_CONFIGURED
    assert text == topic_text(pindrel, "setup", repo.path)


def test_pyproject_toml_that_is_a_directory_means_setup(pindrel, tmp_path):
    (tmp_path / "pyproject.toml").mkdir()
    header, _ = split_output(pindrel("guide", cwd=tmp_path))
    assert header == NOT_CONFIGURED


def test_parent_directory_is_not_searched(pindrel, repo):
    repo.write("pyproject.toml", HOOK_STEP)
    repo.write("pkg/__init__.py", "")
    header, _ = split_output(pindrel("guide", cwd=repo.path / "pkg"))
    assert header == NOT_CONFIGURED


def test_workspace_is_ignored(pindrel, repo, tmp_path):
    repo.write("pyproject.toml", HOOK_STEP)
    elsewhere = tmp_path / "elsewhere"
    elsewhere.mkdir()
    header, _ = split_output(pindrel("--workspace", repo.path, "guide", cwd=elsewhere))
    assert header == NOT_CONFIGURED
    header, _ = split_output(pindrel("guide", "--workspace", elsewhere, cwd=repo.path))
    assert header == CONFIGURED


def test_works_outside_any_project_even_with_a_bad_workspace(pindrel, tmp_path):
    empty = tmp_path / "empty"
    empty.mkdir()
    header, _ = split_output(pindrel("--workspace", tmp_path / "missing", "guide", cwd=empty))
    assert header == NOT_CONFIGURED


def test_removed_current_directory_means_setup(pindrel, tmp_path):
    gone = tmp_path / "gone"
    gone.mkdir()
    proc = subprocess.run(
        ["sh", "-c", 'cd "$1" && rmdir "$1" && exec "$2" guide', "sh", str(gone), str(pindrel.binary)],
        env=pindrel.env,
        capture_output=True,
        timeout=60,
    )
    assert proc.returncode == 0, proc
    assert proc.stderr == b""
    assert proc.stdout.decode().startswith(NOT_CONFIGURED + "\n\n" + TITLES["setup"] + "\n")


def test_format_has_no_effect(pindrel, repo):
    repo.write("pyproject.toml", HOOK_STEP)
    human = pindrel("guide", cwd=repo.path)
    json = pindrel("--format", "json", "guide", cwd=repo.path)
    assert json.status == 0
    assert json.out == human.out


def test_failed_write_exits_2(pindrel, tmp_path):
    with open("/dev/full", "wb") as full:
        r = pindrel("guide", "tune", cwd=tmp_path, stdout=full)
    assert (r.status, r.err) == (2, "pindrel: No space left on device (os error 28)\n")
