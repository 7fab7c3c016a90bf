"""Start-up as a user sees it: version, usage, the workspace root and the error line."""

import os

import pytest


def test_version(pindrel, tmp_path):
    r = pindrel("--version", cwd=tmp_path)
    assert (r.status, r.out, r.err) == (0, "pindrel 0.5.0\n", "")


def test_no_arguments_prints_help_on_stderr_with_status_2(pindrel, tmp_path):
    r = pindrel(cwd=tmp_path)
    assert r.status == 2
    assert r.out == ""
    assert "Impact-based pytest selection for Python, powered by quillo." in r.err


def test_workspace_that_cannot_be_resolved(pindrel, tmp_path):
    r = pindrel("--workspace", "no such dir", "doctor", cwd=tmp_path)
    assert (r.status, r.out) == (2, "")
    assert r.err == "pindrel: cannot resolve --workspace no such dir: No such file or directory (os error 2)\n"


def test_no_project_root_names_the_canonical_start_and_the_markers(pindrel, tmp_path):
    start = tmp_path / "nowhere"
    start.mkdir()
    linked = tmp_path / "link"
    linked.symlink_to(start)
    r = pindrel("doctor", cwd=linked)
    assert r.status == 2
    assert r.err == (
        f"pindrel: no Python project root above {start.resolve()} "
        "(looked for pyproject.toml, setup.py, setup.cfg, .git)\n"
    )


def test_closed_standard_descriptors_are_survived(pindrel, tmp_path):
    # With standard input closed, the next open would otherwise become descriptor 0.
    r = pindrel("--version", cwd=tmp_path, preexec_fn=lambda: os.close(0))
    assert (r.status, r.out) == (0, "pindrel 0.5.0\n")


def test_closed_pipe_on_standard_output_is_an_error_not_a_signal(pindrel, tmp_path):
    read_end, write_end = os.pipe()
    os.close(read_end)
    try:
        r = pindrel("guide", "tune", cwd=tmp_path, stdout=write_end)
    finally:
        os.close(write_end)
    assert (r.status, r.err) == (2, "pindrel: Broken pipe (os error 32)\n")


@pytest.mark.parametrize("args", [["--version"], ["--help"], ["-h"], ["help", "run"]])
def test_help_or_version_that_cannot_be_written_exits_2(pindrel, tmp_path, args):
    with open("/dev/full", "wb") as full:
        r = pindrel(*args, cwd=tmp_path, stdout=full)
    assert (r.status, r.err) == (2, "pindrel: No space left on device (os error 28)\n")
