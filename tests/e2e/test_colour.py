"""Colour of help and usage errors, decided per stream from the terminal and the environment."""

import os
import pty
import subprocess
import tty

import pytest

COLOUR_VARIABLES = ("NO_COLOR", "CLICOLOR_FORCE", "CLICOLOR", "TERM", "CI")


def run(pindrel, args, tmp_path, variables, terminal):
    """Runs the binary with the colour variables set as given (others unset); the streams
    named in `terminal` ("out", "err") are a pseudo-terminal, the others pipes. Returns
    standard output and standard error as bytes."""
    env = dict(pindrel.env)
    for key in COLOUR_VARIABLES:
        env.pop(key, None)
    env.update(variables)
    master, slave = pty.openpty()
    tty.setraw(slave)  # no "\r\n" translation: the bytes arrive as written
    try:
        proc = subprocess.Popen(
            [str(pindrel.binary), *args],
            cwd=tmp_path,
            env=env,
            stdin=subprocess.DEVNULL,
            stdout=slave if "out" in terminal else subprocess.PIPE,
            stderr=slave if "err" in terminal else subprocess.PIPE,
        )
        os.close(slave)
        slave = None
        piped_out, piped_err = proc.communicate(timeout=60)
        on_terminal = b""
        while True:
            try:
                chunk = os.read(master, 65536)
            except OSError:  # EIO once the terminal's last writer is gone
                break
            if not chunk:
                break
            on_terminal += chunk
    finally:
        if slave is not None:
            os.close(slave)
        os.close(master)
    out = on_terminal if "out" in terminal else piped_out
    err = on_terminal if "err" in terminal else piped_err
    return out, err


HELP = ("-h",)
USAGE_ERROR = ("--format", "jsn", "doctor")
HELP_HEADING = b"\x1b[1;4mUsage:\x1b[0m \x1b[1mpindrel\x1b[0m [OPTIONS] <COMMAND>\n"
ERROR_LEAD = b"\x1b[1;31merror:\x1b[0m --format: invalid value '\x1b[33mjsn\x1b[0m'"


@pytest.fixture
def plain(pindrel, tmp_path):
    """The help and the usage error as written into pipes with no colour variable set."""
    help_out, _ = run(pindrel, HELP, tmp_path, {}, terminal=())
    _, error_err = run(pindrel, USAGE_ERROR, tmp_path, {}, terminal=())
    assert b"\x1b" not in help_out + error_err
    return help_out, error_err


@pytest.mark.parametrize(
    "variables, on_terminal, coloured",
    [
        ({"TERM": "xterm-256color"}, True, True),
        ({"TERM": "xterm-256color"}, False, False),
        ({"TERM": "dumb"}, True, False),
        ({}, True, False),
        ({"TERM": "dumb", "CLICOLOR": "1"}, True, True),
        ({"CI": "true"}, True, True),
        ({"TERM": "xterm", "CLICOLOR": "0"}, True, False),
        ({"TERM": "xterm", "NO_COLOR": "1"}, True, False),
        ({"TERM": "xterm", "NO_COLOR": ""}, True, True),
        ({"CLICOLOR_FORCE": "1"}, False, True),
        ({"CLICOLOR_FORCE": "1", "CLICOLOR": "0", "TERM": "dumb"}, True, True),
        ({"CLICOLOR_FORCE": "1", "NO_COLOR": "1"}, False, False),
        ({"CLICOLOR_FORCE": "0"}, False, False),
    ],
)
def test_colour_rule(pindrel, tmp_path, plain, variables, on_terminal, coloured):
    help_out, _ = run(pindrel, HELP, tmp_path, variables, terminal=("out",) if on_terminal else ())
    _, error_err = run(pindrel, USAGE_ERROR, tmp_path, variables, terminal=("err",) if on_terminal else ())
    if coloured:
        assert HELP_HEADING in help_out
        assert error_err.startswith(ERROR_LEAD)
    else:
        assert (help_out, error_err) == plain


def test_each_stream_is_judged_on_its_own(pindrel, tmp_path, plain):
    variables = {"TERM": "xterm"}
    help_out, _ = run(pindrel, HELP, tmp_path, variables, terminal=("out",))
    _, error_err = run(pindrel, USAGE_ERROR, tmp_path, variables, terminal=("out",))
    assert HELP_HEADING in help_out
    assert error_err == plain[1]

    help_out, _ = run(pindrel, HELP, tmp_path, variables, terminal=("err",))
    _, error_err = run(pindrel, USAGE_ERROR, tmp_path, variables, terminal=("err",))
    assert help_out == plain[0]
    assert error_err.startswith(ERROR_LEAD)
