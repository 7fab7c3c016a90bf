"""Tests that pytest collects again beyond their own class: under the classes that inherit them and
in the test modules that import them. `run` must select every copy that the change breaks, with
real pytest and the stand-in reference tool answering, as a real one does, only the call inside
the original test."""

import json
import textwrap

PYPROJECT = textwrap.dedent(
    """\
    [project]
    name = "demo"

    [tool.pytest.ini_options]
    addopts = "-p no:cacheprovider"

    [tool.pindrel]
    pytest-command = ["/usr/bin/python3", "-m", "pytest"]
    """
)


def commit(repo, files):
    for rel, text in {"pyproject.toml": PYPROJECT, **files}.items():
        repo.write(rel, textwrap.dedent(text))
    repo.commit("project")


def refs_of_pack(line):
    """`pack` (pkg/memory.py, named at 1:5) is called once, on `line` of tests/test_memory.py."""
    test_references = [{"file": "tests/test_memory.py", "line": line, "column": 16, "context": ""}]
    answer = {"symbol": "pkg.memory:pack", "references": [], "test_references": test_references}
    return {"refs": {"targets": {"pkg/memory.py:1:5": answer}}}


def planned(pindrel, repo, fake_qlo):
    r = pindrel("run", "--dry-run", "--format", "json", cwd=repo.path, env=fake_qlo.env)
    assert (r.status, r.err) == (0, ""), r
    plan = json.loads(r.out)
    assert plan["decision"] == "selected", plan
    return plan


def failed_tests(pindrel, repo, fake_qlo):
    r = pindrel("run", "--", "-q", "-rf", cwd=repo.path, env=fake_qlo.env)
    assert r.status == 1, r
    return sorted(line.split()[1] for line in r.out.splitlines() if line.startswith("FAILED ")), r.out


MEMORY = {
    "pkg/__init__.py": "",
    "pkg/memory.py": """\
        def pack(x):
            return str(x)
        """,
    "tests/test_memory.py": """\
        from pkg.memory import pack


        class TestMemory:
            def test_roundtrip(self):
                assert pack(1) == "1"

            def test_unrelated(self):
                assert True


        class TestBuffered(TestMemory):
            pass
        """,
    # Imported under a name pytest does not collect, the base runs only in its subclass here.
    "tests/test_file.py": """\
        from tests.test_memory import TestMemory as Base


        class TestFile(Base):
            def test_own(self):
                assert True
        """,
    "tests/test_remote.py": """\
        import tests.test_memory as tm


        class TestRemote(tm.TestMemory):
            pass
        """,
    "tests/test_other.py": "def test_other():\n    assert True\n",
}


def test_a_test_reached_in_a_class_runs_in_every_class_that_inherits_it(pindrel, repo, fake_qlo):
    commit(repo, MEMORY)
    repo.write("pkg/memory.py", "def pack(x):\n    return repr(x) + '!'\n")
    fake_qlo.set(refs_of_pack(6))

    plan = planned(pindrel, repo, fake_qlo)
    chain = {"via": [], "origin": "pkg.memory:pack"}
    assert plan["node_ids"] == [
        {"node_id": node_id, **chain}
        for node_id in [
            "tests/test_file.py::TestFile::test_roundtrip",
            "tests/test_memory.py::TestBuffered::test_roundtrip",
            "tests/test_memory.py::TestMemory::test_roundtrip",
            "tests/test_remote.py::TestRemote::test_roundtrip",
        ]
    ]
    failed, out = failed_tests(pindrel, repo, fake_qlo)
    assert failed == [n["node_id"] for n in plan["node_ids"]], out
    assert "4 failed" in out and "passed" not in out, out


SERIALIZER = {
    "pkg/__init__.py": "",
    "pkg/serializer.py": """\
        def dumps(x):
            return __import__("json").dumps(x)
        """,
    # dumps is called on lines 9 (in a fixture of the class), 15 and 22.
    "tests/test_serializer.py": """\
        import pytest

        from pkg.serializer import dumps


        class TestSerializer:
            @pytest.fixture
            def payload(self):
                return dumps({"a": 1})

            def test_payload(self, payload):
                assert payload == '{"a": 1}'

            def test_dumps(self):
                assert dumps([1]) == "[1]"

            def test_plain(self):
                assert True


        def test_module_level():
            assert dumps(None) == "null"
        """,
    "tests/test_timed.py": """\
        from tests.test_serializer import TestSerializer, test_module_level


        def test_timed():
            assert True
        """,
    "tests/test_star.py": "from tests.test_serializer import *\n",
    "tests/test_other.py": "def test_other():\n    assert True\n",
}


def test_an_imported_test_class_runs_in_every_test_module_that_imports_it(pindrel, repo, fake_qlo):
    commit(repo, SERIALIZER)
    repo.write("pkg/serializer.py", 'def dumps(x):\n    return "x"\n')
    sites = [(9, 20), (15, 16), (22, 12)]
    test_references = [{"file": "tests/test_serializer.py", "line": line, "column": column, "context": ""}
                       for line, column in sites]
    answer = {"symbol": "pkg.serializer:dumps", "references": [], "test_references": test_references}
    fake_qlo.set({"refs": {"targets": {"pkg/serializer.py:1:5": answer}}})

    plan = planned(pindrel, repo, fake_qlo)
    # The fixture of the class selects its class, wherever pytest collects the class.
    assert [n["node_id"] for n in plan["node_ids"]] == [
        "tests/test_serializer.py::TestSerializer",
        "tests/test_serializer.py::test_module_level",
        "tests/test_star.py::TestSerializer",
        "tests/test_star.py::test_module_level",
        "tests/test_timed.py::TestSerializer",
        "tests/test_timed.py::test_module_level",
    ]
    assert {(tuple(n["via"]), n["origin"]) for n in plan["node_ids"]} == {((), "pkg.serializer:dumps")}
    failed, out = failed_tests(pindrel, repo, fake_qlo)
    assert "tests/test_timed.py::TestSerializer::test_dumps" in failed, out
    assert len(failed) == 9 and "3 passed" in out and "test_timed " not in out and "test_other" not in out, out
