"""Scratch git repositories and a pinned environment for running the built binary."""

import json
import os
import shutil
import subprocess
from pathlib import Path

import pytest

ROOT = Path(__file__).resolve().parents[2]
FAKES = ROOT / "tests" / "fakes"


def pindrel_binary() -> Path:
    explicit = os.environ.get("PINDREL_BIN")
    return Path(explicit) if explicit else ROOT / "build" / "pindrel"


def pinned_env(home: Path) -> dict:
    env = {
        k: v
        for k, v in os.environ.items()
        if not k.startswith(("PINDREL_", "GIT_", "RUST_LOG", "NO_COLOR", "CLICOLOR", "PYTEST_"))
    }
    env.update(
        HOME=str(home),
        LC_ALL="C.UTF-8",
        GIT_AUTHOR_NAME="Test",
        GIT_AUTHOR_EMAIL="test@example.com",
        GIT_COMMITTER_NAME="Test",
        GIT_COMMITTER_EMAIL="test@example.com",
        GIT_CONFIG_NOSYSTEM="1",
        TERM="dumb",
    )
    # The sanitizers' reports would otherwise mix into the outputs that tests compare.
    for key in ("ASAN_OPTIONS", "UBSAN_OPTIONS"):
        if key in os.environ:
            env[key] = os.environ[key]
    return env


class Result:
    def __init__(self, proc: subprocess.CompletedProcess):
        self.status = proc.returncode
        self.out_bytes = proc.stdout or b""
        self.err_bytes = proc.stderr or b""
        self.out = self.out_bytes.decode("utf-8", "replace")
        self.err = self.err_bytes.decode("utf-8", "replace")

    def __repr__(self):
        return f"Result(status={self.status}, out={self.out!r}, err={self.err!r})"


class Runner:
    """Runs the binary with a pinned environment; `env` adds or (with None) removes keys.

    `stdout` replaces the captured standard output (a file or descriptor), `stderr` the
    captured standard error (subprocess.STDOUT joins it to the output), and `preexec_fn`
    runs in the child before the binary starts.
    """

    def __init__(self, home: Path):
        self.binary = pindrel_binary()
        self.env = pinned_env(home)

    def __call__(
        self, *args, cwd, env=None, stdin=None, stdout=subprocess.PIPE, stderr=subprocess.PIPE, preexec_fn=None
    ):
        full_env = dict(self.env)
        for key, value in (env or {}).items():
            if value is None:
                full_env.pop(key, None)
            else:
                full_env[key] = value
        argv = [str(self.binary), *[a if isinstance(a, bytes) else str(a) for a in args]]
        proc = subprocess.run(
            argv,
            cwd=cwd,
            env=full_env,
            stdin=subprocess.DEVNULL if stdin is None else stdin,
            stdout=stdout,
            stderr=stderr,
            preexec_fn=preexec_fn,
            executable=str(self.binary),
            timeout=120,
        )
        return Result(proc)


class Repo:
    """A scratch git repository with helpers to write files and commit."""

    def __init__(self, path: Path, env: dict):
        self.path = path
        self.env = env
        path.mkdir(parents=True, exist_ok=True)
        self.git("init", "-q", "-b", "main")

    def git(self, *args, check=True) -> str:
        proc = subprocess.run(
            ["git", *args], cwd=self.path, env=self.env, capture_output=True, check=False
        )
        if check and proc.returncode != 0:
            raise AssertionError(f"git {args} failed: {proc.stderr.decode(errors='replace')}")
        return proc.stdout.decode("utf-8", "replace")

    def write(self, rel, text) -> Path:
        target = self.path / rel
        target.parent.mkdir(parents=True, exist_ok=True)
        if isinstance(text, bytes):
            target.write_bytes(text)
        else:
            target.write_text(text)
        return target

    def remove(self, rel):
        (self.path / rel).unlink()

    def commit(self, message="commit") -> str:
        self.git("add", "-A")
        self.git("commit", "-q", "--allow-empty", "-m", message)
        return self.git("rev-parse", "HEAD").strip()


@pytest.fixture
def home(tmp_path) -> Path:
    h = tmp_path / "home"
    h.mkdir()
    return h


@pytest.fixture
def pindrel(home) -> Runner:
    return Runner(home)


@pytest.fixture
def make_repo(tmp_path, home):
    def make(name="repo") -> Repo:
        return Repo(tmp_path / name, pinned_env(home))

    return make


@pytest.fixture
def repo(make_repo) -> Repo:
    return make_repo()


class FakeQlo:
    """The scripted reference tool of tests/fakes/qlo: a scenario to answer from and the log
    of every run. `env` names the stand-in through PINDREL_QLO; `path_env` puts it first on
    PATH as `qlo` instead."""

    def __init__(self, directory: Path):
        self.executable = FAKES / "qlo"
        self.scenario_path = directory / "qlo-scenario.json"
        self.log_path = directory / "qlo-log.jsonl"
        self.set({})

    def set(self, scenario: dict):
        self.scenario_path.write_text(json.dumps(scenario))

    @property
    def env(self) -> dict:
        return {
            "PINDREL_QLO": str(self.executable),
            "QLO_SCENARIO": str(self.scenario_path),
            "QLO_LOG": str(self.log_path),
        }

    @property
    def path_env(self) -> dict:
        env = dict(self.env)
        del env["PINDREL_QLO"]
        env["PATH"] = f"{FAKES}:{os.environ.get('PATH', '/usr/bin:/bin')}"
        return env

    def runs(self) -> list:
        """Each run as {"argv": [...], "cwd": ...}, argv without the program name."""
        if not self.log_path.exists():
            return []
        return [json.loads(line) for line in self.log_path.read_text().splitlines()]


@pytest.fixture
def fake_qlo(tmp_path) -> FakeQlo:
    directory = tmp_path / "fake-qlo"
    directory.mkdir()
    return FakeQlo(directory)
