"""Walked definitions that no reference reaches may still be run by the tests: registered when
their module is imported, with real pytest and the stand-in reference tool answering as a real
one does."""

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
