"""`pindrel run` against pytest's own view of a project: fixtures from plugin modules, fixtures
requested through pytestmark and the configuration, the configured collection rules and the
doctests of source modules, with real pytest and the stand-in reference tool."""

import json
import textwrap

import pytest

PYTEST_COMMAND = '[tool.pindrel]\npytest-command = ["/usr/bin/python3", "-m", "pytest"]\n'
INI_OPTIONS = '[tool.pytest.ini_options]\npythonpath = ["."]\naddopts = "-p no:cacheprovider"\n'


def src(text: str) -> str:
    return textwrap.dedent(text).lstrip("\n")


def refs_from(target, symbol, *sites):
    """The reference tool's answer: `symbol`, named at `target`, is used at each (file, line, column)."""
    references = [{"file": f, "line": line, "column": column, "context": ""} for f, line, column in sites]
    return {
        "refs": {
            "targets": {
                target: {
                    "symbol": symbol,
                    "reference_count": 0,
                    "references": [],
                    "test_reference_count": len(references),
                    "test_references": references,
                }
            }
        }
    }


def commit_project(repo, files, pyproject=INI_OPTIONS):
    for rel, text in {"pyproject.toml": "[project]\nname = \"demo\"\n\n" + pyproject + "\n" + PYTEST_COMMAND,
                      "pkg/__init__.py": "", **files}.items():
        repo.write(rel, src(text))
    repo.commit("project")


def run(pindrel, repo, fake_qlo, *args):
    return pindrel("run", *args, cwd=repo.path, env=fake_qlo.env)


def dry_run_node_ids(pindrel, repo, fake_qlo, *args):
    r = run(pindrel, repo, fake_qlo, "--dry-run", "--format", "json", *args)
    assert r.status == 0, r
    return [node["node_id"] for node in json.loads(r.out)["node_ids"]]


# connect is named at 1:5; tests/fixtures.py calls it on line 7, column 12, inside db.
DB_PROJECT = {
    "pkg/db.py": "def connect():\n    return 'ok'\n",
    "conftest.py": 'pytest_plugins = ["tests.fixtures"]\n',
    "tests/fixtures.py": """
        import pytest
        from pkg.db import connect


        @pytest.fixture{args}
        def db():
            return connect()
        """,
    "tests/test_db.py": """
        def test_uses_db(db):
            assert db == "ok"
        """,
    "tests/test_other.py": """
        def test_other():
            assert True
        """,
}


@pytest.mark.parametrize(
    "args, selected",
    [("", ["tests/test_db.py::test_uses_db"]),
     ("(autouse=True)", ["tests/test_db.py::test_uses_db", "tests/test_other.py::test_other"])],
)
def test_a_plugin_modules_fixture_reaches_the_tests_that_use_it(pindrel, repo, fake_qlo, args, selected):
    commit_project(repo, {**DB_PROJECT, "tests/fixtures.py": DB_PROJECT["tests/fixtures.py"].format(args=args)})
    repo.write("pkg/db.py", "def connect():\n    return 'broken'\n")
    fake_qlo.set(refs_from("pkg/db.py:1:5", "pkg.db:connect", ("tests/fixtures.py", 7, 12)))

    assert dry_run_node_ids(pindrel, repo, fake_qlo) == selected
    r = run(pindrel, repo, fake_qlo, "--", "-v")
    assert r.status == 1, r
    assert "tests/test_db.py::test_uses_db FAILED" in r.out
    assert ("test_other" in r.out) == (len(selected) == 2)


# settings is named at 1:5; tests/conftest.py calls it on line 7, column 12, inside env.
ENV_PROJECT = {
    "pkg/env.py": "def settings():\n    return 'ok'\n",
    "tests/conftest.py": """
        import pytest
        from pkg.env import settings


        @pytest.fixture
        def env():
            assert settings() == "ok"
        """,
    "tests/test_module_mark.py": """
        import pytest

        pytestmark = pytest.mark.usefixtures("env")


        def test_module():
            pass
        """,
    "tests/test_class_mark.py": """
        import pytest


        class TestMarked:
            pytestmark = [pytest.mark.filterwarnings("ignore"), pytest.mark.usefixtures("env")]

            def test_in_class(self):
                pass


        def test_outside():
            pass
        """,
    "tests/test_unreadable_mark.py": """
        import pytest

        MARKS = [pytest.mark.usefixtures("env")]
        pytestmark = MARKS


        def test_unreadable():
            pass
        """,
    "tests/test_unrelated.py": """
        def test_unrelated():
            pass
        """,
}
ENV_SCENARIO = refs_from("pkg/env.py:1:5", "pkg.env:settings", ("tests/conftest.py", 7, 12))


def test_pytestmark_requests_its_fixtures_for_the_module_or_the_class(pindrel, repo, fake_qlo):
    commit_project(repo, ENV_PROJECT)
    repo.write("pkg/env.py", "def settings():\n    return 'broken'\n")
    fake_qlo.set(ENV_SCENARIO)

    marked = ["tests/test_class_mark.py::TestMarked::test_in_class", "tests/test_module_mark.py::test_module",
              "tests/test_unreadable_mark.py::test_unreadable"]
    assert dry_run_node_ids(pindrel, repo, fake_qlo) == marked
    r = run(pindrel, repo, fake_qlo, "--", "-v")
    assert r.status == 1, r
    assert "3 errors" in r.out and "test_outside" not in r.out and "test_unrelated" not in r.out


def test_configured_usefixtures_requests_its_fixtures_for_every_test(pindrel, repo, fake_qlo):
    # pytest.ini wins over pyproject.toml's table.
    commit_project(repo, {**ENV_PROJECT, "pytest.ini": "[pytest]\nusefixtures = env\npythonpath = .\n"})
    repo.write("pkg/env.py", "def settings():\n    return 'broken'\n")
    fake_qlo.set(ENV_SCENARIO)

    assert "tests/test_unrelated.py::test_unrelated" in dry_run_node_ids(pindrel, repo, fake_qlo)
    r = run(pindrel, repo, fake_qlo, "--", "-v", "-p", "no:cacheprovider")
    assert r.status == 1, r
    assert "5 errors" in r.out


# name is named at 1:5; tests/user_tests.py calls it on line 6, column 16, inside CheckUser.check_name.
CHECK_PROJECT = {
    "pkg/users.py": "def name():\n    return 'ann'\n",
    "tox.ini": """
        [pytest]
        python_files = *_tests.py
        python_classes = Check
        python_functions = check_
        pythonpath = .
        addopts = -p no:cacheprovider
        """,
    "tests/user_tests.py": """
        from pkg.users import name


        class CheckUser:
            def check_name(self):
                assert name() == "ann"


        def check_other():
            assert True
        """,
    "tests/other_tests.py": """
        def check_unrelated():
            assert True
        """,
}


def test_configured_collection_rules_decide_what_pytest_collects(pindrel, repo, fake_qlo):
    commit_project(repo, CHECK_PROJECT, pyproject="")
    repo.write("pkg/users.py", "def name():\n    return 'bob'\n")
    fake_qlo.set(refs_from("pkg/users.py:1:5", "pkg.users:name", ("tests/user_tests.py", 6, 16)))

    assert dry_run_node_ids(pindrel, repo, fake_qlo) == ["tests/user_tests.py::CheckUser::check_name"]
    r = run(pindrel, repo, fake_qlo, "--", "-v")
    assert r.status == 1, r
    assert "tests/user_tests.py::CheckUser::check_name FAILED" in r.out and "check_other" not in r.out

    # A changed test file of the configured name runs as a whole.
    repo.git("checkout", "--", "pkg/users.py")
    repo.write("tests/user_tests.py", "def check_broken():\n    assert False\n")
    fake_qlo.set({"refs": {"targets": {}}})
    assert dry_run_node_ids(pindrel, repo, fake_qlo) == ["tests/user_tests.py"]
    r = run(pindrel, repo, fake_qlo, "--", "-v")
    assert r.status == 1, r
    assert "check_broken FAILED" in r.out and "check_unrelated" not in r.out


# double is named at 1:5 and nothing references it.
DOCTEST_PROJECT = {
    "pkg/calc.py": '''
        def double(x):
            """
            >>> double(2)
            4
            """
            return x * 2
        ''',
    "tests/test_unrelated.py": """
        def test_unrelated():
            pass
        """,
}


@pytest.mark.parametrize(
    "addopts, args",
    [("-p no:cacheprovider --doctest-modules", []), ("-p no:cacheprovider", ["--doctest-modules"])],
)
def test_doctests_of_a_changed_module_run_when_pytest_collects_them(pindrel, repo, fake_qlo, addopts, args):
    commit_project(repo, DOCTEST_PROJECT, pyproject=f'[tool.pytest.ini_options]\npythonpath = ["."]\naddopts = "{addopts}"\n')
    repo.write("pkg/calc.py", src(DOCTEST_PROJECT["pkg/calc.py"]).replace("x * 2", "x * 3"))
    fake_qlo.set({"refs": {"targets": {}}})

    assert dry_run_node_ids(pindrel, repo, fake_qlo, "--", *args) == ["pkg/calc.py"]
    r = run(pindrel, repo, fake_qlo, "--", "-v", *args)
    assert r.status == 1, r
    assert "pkg/calc.py::pkg.calc.double FAILED" in r.out and "test_unrelated" not in r.out


# connect is named at 1:5 and called on line 8, column 12, inside a fixture of a test module and
# of a conftest.py, each imported by a test file that the fixture's own scope leaves out.
IMPORTED_FIXTURES = {
    "pkg/store.py": """
        def connect():
            return "db"
        """,
    "tests/test_a.py": """
        import pytest

        from pkg.store import connect


        @pytest.fixture
        def db():
            return connect()


        def test_a_plain():
            pass
        """,
    "tests/test_b.py": """
        from tests.test_a import db


        def test_b(db):
            assert db == "db"


        def test_b_other():
            pass
        """,
    "tests/test_c.py": """
        from tests.test_a import db as database


        def test_c(database):
            assert database == "db"
        """,
    "tests/api/conftest.py": """
        import pytest

        from pkg.store import connect


        @pytest.fixture
        def token():
            return connect()
        """,
    "tests/api/test_api.py": "def test_api(token):\n    assert token == \"db\"\n",
    "tests/web/test_web.py": """
        from tests.api.conftest import token


        def test_web(token):
            assert token == "db"
        """,
    "tests/test_unrelated.py": "def test_unrelated():\n    pass\n",
}


def test_a_fixture_imported_from_a_test_module_or_conftest_reaches_the_tests_that_ask_for_it(pindrel, repo,
                                                                                              fake_qlo):
    commit_project(repo, IMPORTED_FIXTURES)
    repo.write("pkg/store.py", "def connect():\n    return \"x\"\n")
    fake_qlo.set(refs_from("pkg/store.py:1:5", "pkg.store:connect", ("tests/test_a.py", 8, 12),
                           ("tests/api/conftest.py", 8, 12)))

    assert dry_run_node_ids(pindrel, repo, fake_qlo) == [
        "tests/api/test_api.py::test_api",
        "tests/test_b.py::test_b",
        "tests/test_c.py::test_c",
        "tests/web/test_web.py::test_web",
    ]
    r = run(pindrel, repo, fake_qlo, "--", "-q")
    assert r.status == 1 and "4 failed" in r.out and "passed" not in r.out, r


# sep (named at 1:5) is called on line 9, column 12, inside slug, whose docstring holds the
# doctest; nothing references slug. tests/regressions.py, a module of the test-file rule that is
# not named like a test, holds a doctest of pkg/limits.py, which it imports.
REACHED_DOCTESTS = {
    "pkg/sep.py": """
        def sep():
            return "-"
        """,
    "pkg/text.py": '''
        from pkg.sep import sep


        def slug(words):
            """
            >>> slug(["a", "b"])
            'a-b'
            """
            return sep().join(words)
        ''',
    "pkg/limits.py": "LIMIT = 3\n",
    "tests/regressions.py": '''
        """
        >>> from pkg.limits import LIMIT
        >>> LIMIT
        3
        """
        import pkg.limits
        ''',
    "tests/test_unrelated.py": "def test_unrelated():\n    pass\n",
}
SEP_CALLED_IN_SLUG = {"symbol": "pkg.sep:sep", "references": [{"file": "pkg/text.py", "line": 9, "column": 12}]}


@pytest.mark.parametrize(
    "changed, text, answer, expected, failing",
    [
        ("pkg/sep.py", 'def sep():\n    return "+"\n', {"refs": {"targets": {"pkg/sep.py:1:5": SEP_CALLED_IN_SLUG}}},
         ["pkg/sep.py", "pkg/text.py"], "pkg/text.py::pkg.text.slug FAILED"),
        ("pkg/limits.py", "LIMIT = 4\n", {"refs": {"targets": {}}},
         ["pkg/limits.py", "tests/regressions.py"], "tests/regressions.py::regressions FAILED"),
    ],
    ids=["a reached definition", "a test-rule module importing a changed module"],
)
def test_doctests_of_every_module_the_walk_reaches_run(pindrel, repo, fake_qlo, changed, text, answer, expected,
                                                       failing):
    pyproject = '[tool.pytest.ini_options]\npythonpath = ["."]\naddopts = "-p no:cacheprovider --doctest-modules"\n'
    commit_project(repo, REACHED_DOCTESTS, pyproject=pyproject)
    repo.write(changed, text)
    fake_qlo.set(answer)

    assert dry_run_node_ids(pindrel, repo, fake_qlo) == expected
    r = run(pindrel, repo, fake_qlo, "--", "-v")
    assert r.status == 1, r
    assert failing in r.out and "test_unrelated" not in r.out, r


def test_doctest_modules_leave_out_what_the_doctest_plugin_passes_over(pindrel, repo, fake_qlo):
    """A `__main__.py` or a setuptools `setup.py` that imports a changed module is no doctest module:
    given to pytest as a path, it would run as a module."""
    files = {
        "pkg/__init__.py": "",
        "pkg/limits.py": "LIMIT = 3\n",
        "pkg/__main__.py": "import pkg.limits\n\nraise SystemExit('ran as a program')\n",
        "setup.py": "import setuptools\n\nimport pkg.limits\n\nsetuptools.setup()\n",
        "tests/test_limits.py": "from pkg.limits import LIMIT\n\n\ndef test_limit():\n    assert LIMIT == 3\n",
    }
    pyproject = '[tool.pytest.ini_options]\npythonpath = ["."]\naddopts = "-p no:cacheprovider --doctest-modules"\n'
    commit_project(repo, files, pyproject=pyproject)
    repo.write("pkg/limits.py", "LIMIT = 4\n")
    fake_qlo.set({"refs": {"targets": {}}})

    assert dry_run_node_ids(pindrel, repo, fake_qlo) == ["pkg/limits.py", "tests/test_limits.py"]


@pytest.mark.parametrize(
    "files, message",
    [
        ({"tox.ini": "[pytest]\noops\n"}, "pindrel: cannot parse {root}/tox.ini: line 2: unexpected line: 'oops'\n"),
        ({"setup.cfg": "[tool:pytest]\naddopts = '-q\n"},
         "pindrel: cannot parse {root}/setup.cfg: `addopts`: No closing quotation\n"),
        ({"pytest.ini": "[pytest]\n[pytest]\n"},
         "pindrel: cannot parse {root}/pytest.ini: line 2: duplicate section 'pytest'\n"),
    ],
)
def test_a_configuration_that_cannot_be_read_is_an_error(pindrel, repo, fake_qlo, files, message):
    commit_project(repo, {**DOCTEST_PROJECT, **files}, pyproject="")
    r = run(pindrel, repo, fake_qlo, "--dry-run")
    assert (r.status, r.out, r.err) == (2, "", message.format(root=repo.path.resolve())), r


def site(files, rel, line_text, name="chunk"):
    """The reference site (file, line, column) of `name` on the first line of `rel` holding `line_text`."""
    for number, line in enumerate(src(files[rel]).splitlines(), start=1):
        if line_text in line:
            return rel, number, line.index(line_text) + line_text.index(name) + 1
    raise AssertionError(f"{line_text!r} not in {rel}")


# chunk is named at 1:5; the reference tool reports its call in each test that makes one.
CHUNK_SOURCE = "def chunk(items, size):\n    return [items[i:i + size] for i in range(0, len(items), size)]\n"
BROKEN_CHUNK = "def chunk(items, size):\n    return [items]\n"
UNRELATED_TEST = "def test_unrelated():\n    pass\n"


@pytest.mark.parametrize(
    "header",
    ["from unittest import TestCase\n\n\nclass ChunkedTests(TestCase):",
     "import unittest\n\n\nclass ChunkedTests(unittest.IsolatedAsyncioTestCase):",
     "import unittest\n\n\nclass BaseCase(unittest.TestCase):\n    pass\n\n\nclass ChunkedTests(BaseCase):",
     "from tests.base import BaseCase\n\n\nclass ChunkedTests(BaseCase):",
     "from base import BaseCase\n\n\nclass ChunkedTests(BaseCase):"],
    ids=["TestCase", "unittest.IsolatedAsyncioTestCase", "a TestCase of the file", "a TestCase of a test module",
         "a TestCase of a test module on pytest's path"],
)
def test_a_unittest_class_of_any_name_selects_its_reached_tests(pindrel, repo, fake_qlo, header):
    files = {
        "pkg/chunks.py": CHUNK_SOURCE,
        "tests/test_chunks.py": header + """
    def __init__(self, *args, **kwargs):
        super().__init__(*args, **kwargs)

    def test_split(self):
        from pkg.chunks import chunk
        self.assertEqual(chunk([1, 2, 3], 2), [[1, 2], [3]])

    def test_other(self):
        pass


# pytest runs the inherited test again in the subclass.
class SqliteChunkedTests(ChunkedTests):
    def test_other(self):
        pass
""",
        "tests/test_unrelated.py": UNRELATED_TEST,
        "tests/base.py": "import unittest\n\n\nclass BaseCase(unittest.TestCase):\n    pass\n",
    }
    commit_project(repo, files)
    repo.write("pkg/chunks.py", BROKEN_CHUNK)
    fake_qlo.set(refs_from("pkg/chunks.py:1:5", "pkg.chunks:chunk", site(files, "tests/test_chunks.py", "chunk([1")))

    assert dry_run_node_ids(pindrel, repo, fake_qlo) == ["tests/test_chunks.py::ChunkedTests::test_split",
                                                         "tests/test_chunks.py::SqliteChunkedTests::test_split"]
    r = run(pindrel, repo, fake_qlo, "--", "-v")
    assert r.status == 1, r
    assert "SqliteChunkedTests::test_split FAILED" in r.out and "2 failed in" in r.out, r
    assert "test_other" not in r.out and "test_unrelated" not in r.out


@pytest.mark.parametrize(
    "tests, reached",
    [
        # pytest does not collect a test class with a constructor, its own or inherited.
        ("""
         class TestNew:
             def __new__(cls):
                 return object.__new__(cls)

             def test_split(self):
                 assert chunk([1, 2, 3], 2) == [[1, 2], [3]]
         """, "chunk([1"),
        ("""
         class Base:
             def __init__(self):
                 pass


         class TestInherits(Base):
             def test_split(self):
                 assert chunk([1, 2, 3], 2) == [[1, 2], [3]]
         """, "chunk([1"),
        # A class that turns collection off.
        ("""
         from unittest import TestCase


         class AbstractCase(TestCase):
             __test__ = False

             def test_split(self):
                 assert chunk([1, 2, 3], 2) == [[1, 2], [3]]
         """, "chunk([1"),
        # Code that runs at import fails the whole module.
        ("""
         def check(function):
             return lambda test: test


         class TestDecorated:
             @check(chunk)
             def test_split(self):
                 pass
         """, "@check(chunk)"),
    ],
    ids=["own __new__", "inherited __init__", "__test__", "decorator"],
)
def test_a_test_class_pytest_does_not_collect_or_code_run_at_import_selects_the_file(
    pindrel, repo, fake_qlo, tests, reached
):
    files = {
        "pkg/chunks.py": CHUNK_SOURCE,
        "tests/test_chunks.py": "from pkg.chunks import chunk\n\n\n" + src(tests) + "\n\ndef test_plain():\n    pass\n",
        "tests/test_unrelated.py": UNRELATED_TEST,
    }
    commit_project(repo, files)
    repo.write("pkg/chunks.py", CHUNK_SOURCE.replace("size)]", "size)]  # unchanged"))
    fake_qlo.set(refs_from("pkg/chunks.py:1:5", "pkg.chunks:chunk", site(files, "tests/test_chunks.py", reached)))

    assert dry_run_node_ids(pindrel, repo, fake_qlo) == ["tests/test_chunks.py"]
    r = run(pindrel, repo, fake_qlo, "--", "-v")
    assert r.status == 0, r
    assert "test_plain PASSED" in r.out and "test_unrelated" not in r.out


# connect is named at 1:5; tests/conftest.py calls it on line 7, column 12, inside sqlite_db.
DYNAMIC_PROJECT = {
    "pkg/db.py": "def connect():\n    return 'ok'\n",
    "tests/conftest.py": """
        import pytest
        from pkg.db import connect


        @pytest.fixture
        def sqlite_db():
            return connect()


        @pytest.fixture
        def backend(request):
            return request.getfixturevalue("sqlite_db")
        """,
    "tests/test_dynamic.py": """
        import pytest


        @pytest.mark.parametrize("name", ["sqlite_db"])
        def test_named(request, name):
            assert request.getfixturevalue(name) == "ok"


        def test_backend(backend):
            assert backend == "ok"


        def test_static():
            pass
        """,
    "tests/test_unrelated.py": UNRELATED_TEST,
}


def test_a_fixture_asked_for_by_name_at_run_time_reaches_the_test_that_asks(pindrel, repo, fake_qlo):
    commit_project(repo, DYNAMIC_PROJECT)
    repo.write("pkg/db.py", "def connect():\n    return 'broken'\n")
    fake_qlo.set(refs_from("pkg/db.py:1:5", "pkg.db:connect", ("tests/conftest.py", 7, 12)))

    assert dry_run_node_ids(pindrel, repo, fake_qlo) == ["tests/test_dynamic.py::test_backend",
                                                         "tests/test_dynamic.py::test_named"]
    r = run(pindrel, repo, fake_qlo, "--", "-v")
    assert r.status == 1, r
    assert "2 failed in" in r.out and "test_static" not in r.out and "test_unrelated" not in r.out, r


# double is named at 1:5; every test file below calls it in its test.
EXCLUDED_PROJECT = {
    "pkg/calc.py": "def double(x):\n    return x * 2\n",
    "tests/conftest.py": "import pytest\n\n\n@pytest.fixture\ndef unit():\n    return 1\n",
    "tests/test_calc.py": "from pkg.calc import double\n\n\ndef test_double(unit):\n    assert double(unit) == 2\n",
    # A plugin that is not installed, deliberately failing samples, an abandoned suite.
    "benchmarks/test_speed.py": "import pytest_benchmark\nfrom pkg.calc import double\n\n\ndef test_speed(unit):\n    assert double(unit)\n",
    "tests/samples/test_sample.py": "from pkg.calc import double\n\n\ndef test_sample(unit):\n    assert double(unit) == 3\n",
    "tests/legacy/test_old.py": "import missing\nfrom pkg.calc import double\n\n\ndef test_old(unit):\n    assert double(unit)\n",
}


@pytest.mark.parametrize(
    "addopts, args",
    [("-p no:cacheprovider --ignore=tests/legacy", []),
     ("-p no:cacheprovider", ["--ignore", "tests/legacy/"]),
     ("-p no:cacheprovider --ignore-glob=*/legacy/*", [])],
    ids=["--ignore in addopts", "--ignore after --", "--ignore-glob"],
)
def test_a_file_the_whole_suite_does_not_collect_is_dropped(pindrel, repo, fake_qlo, addopts, args):
    options = f'[tool.pytest.ini_options]\npythonpath = ["."]\ntestpaths = ["tests"]\nnorecursedirs = ["samples"]\naddopts = "{addopts}"\n'
    commit_project(repo, EXCLUDED_PROJECT, pyproject=options)
    repo.write("pkg/calc.py", "def double(x):\n    return x + x\n")
    users = ["tests/test_calc.py", "benchmarks/test_speed.py", "tests/samples/test_sample.py", "tests/legacy/test_old.py"]
    sites = [site(EXCLUDED_PROJECT, rel, "assert double", "double") for rel in users]
    fake_qlo.set(refs_from("pkg/calc.py:1:5", "pkg.calc:double", *sites))

    r = run(pindrel, repo, fake_qlo, "--dry-run", "--format", "json", "--", *args)
    assert r.status == 0, r
    plan = json.loads(r.out)
    assert [node["node_id"] for node in plan["node_ids"]] == ["tests/test_calc.py::test_double"]
    assert plan["dropped"] == [{"entry": path, "why": "not_collectible"} for path in sorted(users[1:])]
    r = run(pindrel, repo, fake_qlo, "--", "-v", *args)
    assert r.status == 0 and "test_double PASSED" in r.out, r

    # A changed conftest.py stands for the test files the whole suite collects under it.
    repo.git("checkout", "--", "pkg/calc.py")
    repo.write("tests/conftest.py", EXCLUDED_PROJECT["tests/conftest.py"].replace("1", "2"))
    fake_qlo.set({"refs": {"targets": {}}})
    assert dry_run_node_ids(pindrel, repo, fake_qlo, "--", *args) == ["tests/test_calc.py"]


@pytest.mark.parametrize(
    "addopts, selected",
    [("-p no:cacheprovider", ["tests/api/test_utils.py", "tests/cli/test_utils.py"]),
     ("-p no:cacheprovider --import-mode=importlib", ["tests/cli/test_utils.py"])],
    ids=["prepend", "importlib"],
)
def test_a_test_file_named_as_another_takes_it_along(pindrel, repo, fake_qlo, addopts, selected):
    commit_project(repo, {"tests/api/test_utils.py": "def test_api():\n    pass\n",
                          "tests/api/__init__.py": "",
                          "tests/helpers/test_utils.py": "def test_packaged():\n    pass\n",
                          "tests/helpers/__init__.py": "",
                          "tests/test_unrelated.py": UNRELATED_TEST},
                   pyproject=f'[tool.pytest.ini_options]\naddopts = "{addopts}"\n')
    # tests/api is a package inside tests, which is none: its module is api.test_utils.
    repo.remove("tests/api/__init__.py")
    repo.commit("no package")
    repo.write("tests/cli/test_utils.py", "def test_cli():\n    pass\n")
    fake_qlo.set({"refs": {"targets": {}}})

    assert dry_run_node_ids(pindrel, repo, fake_qlo) == selected
    r = run(pindrel, repo, fake_qlo, "--", "-v")
    if len(selected) == 2:
        assert r.status == 2 and "import file mismatch" in r.out, r
    else:
        assert r.status == 0 and "test_cli PASSED" in r.out, r
    assert "test_unrelated" not in r.out and "test_packaged" not in r.out
