"""Code that no reference reaches may still be run by the tests: definitions registered when
their module is imported, modules imported by names the reference tool cannot resolve, and
modules nothing imports that the tests start or read by name; with real pytest and the stand-in
reference tool answering as a real one does."""

import json
import textwrap

import pytest


def src(text: str) -> str:
    return textwrap.dedent(text).lstrip("\n")


def edit(repo, rel, old, new):
    path = repo.path / rel
    text = path.read_text()
    assert old in text, (rel, old)
    path.write_text(text.replace(old, new, 1))


PYPROJECT = src(
    """
    [project]
    name = "app"

    [tool.pytest.ini_options]
    pythonpath = ["."]
    addopts = "-p no:cacheprovider"

    [tool.pindrel]
    pytest-command = ["/usr/bin/python3", "-m", "pytest"]
    """
)

OTHER_TEST = "def test_other():\n    assert True\n"


def selected_and_run(pindrel, repo, fake_qlo):
    """The node ids of the dry run, and the result of running them."""
    r = pindrel("run", "--dry-run", "--format", "json", cwd=repo.path, env=fake_qlo.env)
    assert (r.status, r.err) == (0, ""), r
    plan = json.loads(r.out)
    assert (plan["verdict"], plan["decision"]) == ("selected", "selected"), plan
    return [node["node_id"] for node in plan["node_ids"]], pindrel("run", "--", "-q", cwd=repo.path, env=fake_qlo.env)


# Functions and methods that a registry calls: nothing names them, so a real reference tool
# answers no reference for them, nor for the plugin class.
REGISTRIES = {
    "pyproject.toml": PYPROJECT,
    "app/__init__.py": "",
    "app/registry.py": src(
        """
        HANDLERS = {}


        def register(name):
            def add(func):
                HANDLERS[name] = func
                return func

            return add


        def run(name, text):
            return HANDLERS[name](text)
        """
    ),
    "app/handlers.py": src(
        """
        from app.registry import register


        @register("upper")
        def upper(text):
            return text.upper()
        """
    ),
    "app/signals.py": src(
        """
        RECEIVERS = []
        user_created = object()


        def receiver(signal):
            def add(func):
                RECEIVERS.append(func)
                return func

            return add


        def send(signal, user):
            return [func(user) for func in RECEIVERS]
        """
    ),
    "app/welcome.py": src(
        """
        from app.signals import receiver, user_created


        @receiver(user_created)
        def greet(user):
            return "hello " + user
        """
    ),
    "app/plugins.py": src(
        """
        class Plugin:
            registry = {}

            def __init_subclass__(cls, **kwargs):
                super().__init_subclass__(**kwargs)
                Plugin.registry[cls.name] = cls
        """
    ),
    "app/shout.py": src(
        """
        from app.plugins import Plugin


        class Shout(Plugin):
            name = "shout"

            def apply(self, text):
                return text.upper() + "!"
        """
    ),
    # Loads every registration; the handlers' test imports only this module.
    "app/everything.py": "import app.handlers\nimport app.shout\nimport app.welcome\n",
    "tests/test_handlers.py": src(
        """
        import app.everything
        from app.registry import run


        def test_upper():
            assert run("upper", "a") == "A"
        """
    ),
    "tests/test_welcome.py": src(
        """
        import app.welcome
        from app.signals import send, user_created


        def test_greet():
            assert send(user_created, "ann") == ["hello ann"]
        """
    ),
    "tests/test_plugins.py": src(
        """
        import app.shout
        from app.plugins import Plugin


        def test_shout():
            assert Plugin.registry["shout"]().apply("a") == "A!"
        """
    ),
    "tests/test_other.py": OTHER_TEST,
}

# Each case: the change, the test files selected (those importing the module, directly or
# through app/everything.py), and the test that breaks.
REGISTRATIONS = {
    "decorator_from_the_registry_module": (
        ("app/handlers.py", "text.upper()", "text.lower()"),
        ["tests/test_handlers.py"],
        "test_handlers.py::test_upper",
    ),
    "signal_receiver": (
        ("app/welcome.py", '"hello "', '"hi "'),
        ["tests/test_handlers.py", "tests/test_welcome.py"],
        "test_welcome.py::test_greet",
    ),
    "subclass_recorded_by_its_base": (
        ("app/shout.py", '+ "!"', '+ "?"'),
        ["tests/test_handlers.py", "tests/test_plugins.py"],
        "test_plugins.py::test_shout",
    ),
}


@pytest.mark.parametrize("change, selected, broken", REGISTRATIONS.values(), ids=REGISTRATIONS.keys())
def test_a_registered_dead_end_runs_the_tests_importing_its_module(pindrel, repo, fake_qlo, change, selected, broken):
    for rel, text in REGISTRIES.items():
        repo.write(rel, text)
    repo.commit("registries")
    fake_qlo.set({"refs": {"targets": {}}})
    edit(repo, *change)

    node_ids, ran = selected_and_run(pindrel, repo, fake_qlo)
    assert node_ids == selected
    assert ran.status == 1 and broken in ran.out and "test_other" not in ran.out, ran


def test_a_registration_chain_starts_at_the_module(pindrel, repo, fake_qlo):
    for rel, text in REGISTRIES.items():
        repo.write(rel, text)
    repo.commit("registries")
    fake_qlo.set({"refs": {"targets": {}}})
    edit(repo, "app/handlers.py", "text.upper()", "text.lower()")

    r = pindrel("impacted-tests", "--format", "json", cwd=repo.path, env=fake_qlo.env)
    assert (r.status, r.err) == (0, ""), r
    report = json.loads(r.out)
    assert (report["verdict"], report["reason"], report["errors"]) == ("selected", None, [])
    assert report["impacted_tests"] == [
        {
            "file": "tests/test_handlers.py",
            "symbol": None,
            "via": ["app.everything", "app.handlers"],
            "origin": "app.handlers:upper",
            "kind": "test",
        }
    ]


def pyproject_with_paths(*paths):
    listed = ", ".join(f'"{path}"' for path in paths)
    return PYPROJECT.replace('pythonpath = ["."]', f"pythonpath = [{listed}]")


# Modules that the tests import by a name the reference tool cannot resolve, so that it answers
# no reference across those imports; the only one it answers is core's relative re-export.
UNRESOLVED = {
    # lib/ is on pytest's pythonpath, and textkit is imported below it.
    "pythonpath_entry": {
        "pyproject.toml": pyproject_with_paths("lib"),
        "lib/textkit/slug.py": 'def slug(text):\n    return text.lower().replace(" ", "-")\n',
        "tests/test_slug.py": src(
            """
            from textkit.slug import slug


            def test_slug():
                assert slug("A B") == "a-b"
            """
        ),
    },
    # Several packages, each under its own src; core re-exports cents, which web uses.
    "packages_with_src_directories": {
        "pyproject.toml": pyproject_with_paths("packages/core/src", "packages/web/src"),
        "packages/core/src/core/__init__.py": "from .money import cents\n",
        "packages/core/src/core/money.py": "def cents(amount):\n    return round(amount * 100)\n",
        "packages/web/src/web/__init__.py": "",
        "packages/web/src/web/views.py": src(
            """
            from core import cents


            def price_label(amount):
                return f"{cents(amount)}c"
            """
        ),
        "packages/web/tests/test_views.py": src(
            """
            from web.views import price_label


            def test_label():
                assert price_label(1.5) == "150c"
            """
        ),
    },
    # The test puts scripts/ on sys.path and imports the script by its own name.
    "sys_path_change": {
        "pyproject.toml": PYPROJECT,
        "scripts/report.py": 'def summary(rows):\n    return f"{len(rows)} rows"\n',
        "tests/test_report.py": src(
            """
            import os
            import sys

            sys.path.insert(0, os.path.join(os.path.dirname(__file__), "..", "scripts"))

            import report


            def test_summary():
                assert report.summary([1, 2]) == "2 rows"
            """
        ),
    },
}

CORE_REEXPORT = {
    "packages/core/src/core/money.py:1:5": {
        "symbol": "core.money:cents",
        "reference_count": 1,
        "references": [{"file": "packages/core/src/core/__init__.py", "line": 1, "column": 19, "context": ""}],
    }
}

# Each case: the change, and the one test selected, which breaks.
UNRESOLVED_CHANGES = {
    "pythonpath_entry": (("lib/textkit/slug.py", '"-"', '"_"'), "tests/test_slug.py::test_slug"),
    "packages_with_src_directories": (
        ("packages/core/src/core/money.py", "amount * 100", "amount * 10"),
        "packages/web/tests/test_views.py::test_label",
    ),
    "sys_path_change": (("scripts/report.py", "rows\"", "lines\""), "tests/test_report.py::test_summary"),
}


@pytest.mark.parametrize("layout", UNRESOLVED.keys())
def test_imports_the_tool_cannot_resolve_are_read_from_the_import_lines(pindrel, repo, fake_qlo, layout):
    for rel, text in {**UNRESOLVED[layout], "tests/test_other.py": OTHER_TEST}.items():
        repo.write(rel, text)
    repo.commit("project")
    fake_qlo.set({"refs": {"targets": CORE_REEXPORT}})
    change, test = UNRESOLVED_CHANGES[layout]
    edit(repo, *change)

    node_ids, ran = selected_and_run(pindrel, repo, fake_qlo)
    assert node_ids == [test]
    assert ran.status == 1 and test in ran.out and "test_other" not in ran.out, ran


# Modules that no Python file imports: a command-line module the tests start with -m, and a
# Python file among the test data that a test reads as text.
UNIMPORTED = {
    "pyproject.toml": PYPROJECT,
    "pkg/__init__.py": "",
    "pkg/cli.py": src(
        """
        import sys


        def main(argv):
            print("total", sum(int(a) for a in argv))


        if __name__ == "__main__":
            main(sys.argv[1:])
        """
    ),
    "tests/test_cli.py": src(
        """
        import subprocess
        import sys


        def test_cli_sums():
            run = subprocess.run([sys.executable, "-m", "pkg.cli", "1", "2"], capture_output=True, text=True)
            assert run.stdout == "total 3\\n"
        """
    ),
    "tests/data/sample.py": "def sample():\n    return 1\n",
    "tests/test_sample.py": src(
        """
        from pathlib import Path


        def test_sample_defines_one_function():
            text = (Path(__file__).parent / "data" / "sample.py").read_text()
            assert text.count("def ") == 1
        """
    ),
    "tests/test_other.py": OTHER_TEST,
}

# What a real tool answers: main is called at module level of its own file.
MAIN_CALLED_IN_ITS_MODULE = {
    "pkg/cli.py:4:5": {
        "symbol": "pkg.cli:main",
        "reference_count": 1,
        "references": [{"file": "pkg/cli.py", "line": 9, "column": 5, "context": ""}],
    }
}

# Each case: the change, the test file selected, and its test that breaks.
UNIMPORTED_CHANGES = {
    "started_with_dash_m": (("pkg/cli.py", '"total"', '"sum"'), "tests/test_cli.py", "test_cli_sums"),
    "read_as_text": (
        ("tests/data/sample.py", "return 1\n", "return 1\n\n\ndef other():\n    return 2\n"),
        "tests/test_sample.py",
        "test_sample_defines_one_function",
    ),
}


@pytest.mark.parametrize("change, selected, broken", UNIMPORTED_CHANGES.values(), ids=UNIMPORTED_CHANGES.keys())
def test_a_module_nothing_imports_runs_the_test_files_naming_it(pindrel, repo, fake_qlo, change, selected, broken):
    for rel, text in UNIMPORTED.items():
        repo.write(rel, text)
    repo.commit("project")
    fake_qlo.set({"refs": {"targets": MAIN_CALLED_IN_ITS_MODULE}})
    edit(repo, *change)

    node_ids, ran = selected_and_run(pindrel, repo, fake_qlo)
    assert node_ids == [selected]
    assert ran.status == 1 and broken in ran.out and "test_other" not in ran.out, ran
