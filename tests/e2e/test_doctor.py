"""`pindrel doctor`: the workspace root and the reference tool, without running either git or the tool."""

import os

import pytest


@pytest.fixture
def workspace(tmp_path):
    root = (tmp_path / "ws").resolve()
    (root / "pkg").mkdir(parents=True)
    (root / "setup.cfg").write_text("")
    return root


@pytest.mark.parametrize("format_args", [[], ["--format", "json"]])
def test_prints_root_and_tool_without_running_it(pindrel, workspace, fake_qlo, format_args):
    result = pindrel(*format_args, "doctor", cwd=workspace / "pkg", env=fake_qlo.env)
    assert (result.status, result.err) == (0, "")
    assert result.out == f"workspace: {workspace}\nqlo:       {fake_qlo.executable}\n"
    assert fake_qlo.runs() == []


@pytest.mark.parametrize("value", ["", "qlo-by-name"])
def test_pindrel_qlo_bare_name_is_shown_unchecked(pindrel, workspace, value):
    result = pindrel("doctor", cwd=workspace, env={"PINDREL_QLO": value})
    assert (result.status, result.err) == (0, "")
    assert result.out == f"workspace: {workspace}\nqlo:       {value}\n"


@pytest.mark.parametrize(
    "value, reason",
    [
        ("/no/such/qlo", "No such file or directory (os error 2)"),
        ("{tmp}/a-directory", "not a regular file"),
        ("{tmp}/not-executable", "Permission denied (os error 13)"),
        # The tool starts in the workspace root, so a relative path is taken from there,
        # not from the current directory that holds pkg/bin/qlo.
        ("bin/qlo", "No such file or directory (os error 2)"),
    ],
)
def test_pindrel_qlo_path_that_is_no_executable_file_fails(pindrel, workspace, tmp_path, value, reason):
    (tmp_path / "a-directory").mkdir()
    (tmp_path / "not-executable").write_text("#!/bin/sh\n")
    (tmp_path / "not-executable").chmod(0o644)
    (workspace / "pkg" / "bin").mkdir()
    (workspace / "pkg" / "bin" / "qlo").write_text("#!/bin/sh\n")
    (workspace / "pkg" / "bin" / "qlo").chmod(0o755)
    value = value.format(tmp=tmp_path)
    result = pindrel("doctor", cwd=workspace / "pkg", env={"PINDREL_QLO": value, "PATH": "/nonexistent"})
    assert (result.status, result.out) == (2, "")
    assert result.err == f"pindrel: PINDREL_QLO `{value}` is not an executable file: {reason}\n"


def test_pindrel_qlo_relative_path_from_the_workspace_root(pindrel, workspace, fake_qlo):
    (workspace / "tools").mkdir()
    (workspace / "tools" / "qlo").symlink_to(fake_qlo.executable)
    result = pindrel("doctor", cwd=workspace / "pkg", env={**fake_qlo.env, "PINDREL_QLO": "tools/qlo"})
    assert (result.status, result.err) == (0, "")
    assert result.out == f"workspace: {workspace}\nqlo:       tools/qlo\n"
    assert fake_qlo.runs() == []


def test_tool_found_on_path(pindrel, workspace, tmp_path):
    bin_dir = tmp_path / "bin"
    bin_dir.mkdir()
    qlo = bin_dir / "qlo"
    qlo.write_text("#!/bin/sh\nexit 99\n")
    qlo.chmod(0o755)
    (tmp_path / "not-executable").mkdir()
    (tmp_path / "not-executable" / "qlo").write_text("")
    path = f"{tmp_path / 'not-executable'}:{bin_dir}:/usr/bin:/bin"
    result = pindrel("doctor", cwd=workspace, env={"PINDREL_QLO": None, "PATH": path})
    assert (result.status, result.err) == (0, "")
    assert result.out == f"workspace: {workspace}\nqlo:       {qlo}\n"


def test_tool_not_found(pindrel, workspace):
    result = pindrel("doctor", cwd=workspace, env={"PINDREL_QLO": None, "PATH": "/nonexistent"})
    assert (result.status, result.out) == (2, "")
    assert result.err == (
        "pindrel: `qlo` not found on PATH. Install it with `uv add --dev quillo`, or point PINDREL_QLO at the "
        "binary.: cannot find binary path\n"
    )


def test_workspace_option_needs_no_marker(pindrel, tmp_path):
    bare = tmp_path / "bare"
    bare.mkdir()
    result = pindrel("--workspace", "bare", "doctor", cwd=tmp_path, env={"PINDREL_QLO": "q"})
    assert (result.status, result.err) == (0, "")
    assert result.out == f"workspace: {bare.resolve()}\nqlo:       q\n"


def test_root_with_invalid_utf8_is_shown_replaced(pindrel, tmp_path):
    root = tmp_path / os.fsdecode(b"w\xffs")
    root.mkdir()
    (root / "pyproject.toml").write_text("")
    result = pindrel("doctor", cwd=root, env={"PINDREL_QLO": "q"})
    assert result.status == 0, result
    shown = os.fsencode(tmp_path.resolve()).decode("utf-8", "replace") + "/w\ufffds"
    assert result.out == f"workspace: {shown}\nqlo:       q\n"
