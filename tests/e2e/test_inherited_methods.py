"""A class used as a base hands its methods to the subclass and runs none of them when the
subclass's module is imported: a changed method body selects the tests of the base and of the
subclass, not every test that imports the package, with real pytest and the stand-in tool."""

import json
import textwrap

import pytest


def src(text: str) -> str:
    return textwrap.dedent(text).lstrip("\n")


# Test files that import the package and use neither class.
IMPORTERS = 20


def generated_project():
    files = {
        "pyproject.toml": src(
            """
            [project]
            name = "signer"

            [tool.pytest.ini_options]
            pythonpath = ["."]
            addopts = "-p no:cacheprovider"

            [tool.pindrel]
            pytest-command = ["/usr/bin/python3", "-m", "pytest"]
            """
        ),
        # Base is re-exported as itself; Sub comes from another module of the package.
        "pkg/__init__.py": "from pkg.base import Base as Base\nfrom pkg.sub import Sub\n\nVERSION = 1\n",
        "pkg/base.py": src(
            """
            class Base:
                def loads(self, text):
                    return text.strip()

                def __init_subclass__(cls, **kwargs):
                    super().__init_subclass__(**kwargs)
            """
        ),
        "pkg/sub.py": src(
            """
            from pkg.base import Base


            class Sub(Base):
                salt = "s"
            """
        ),
        "tests/test_base.py": src(
            """
            from pkg import Base


            def test_base():
                assert Base().loads(" a ") == "a"
            """
        ),
        # The receiver is not typed, so the tool cannot tell that Base.loads is called here.
        "tests/test_sub.py": src(
            """
            from pkg import Sub


            def check(signer):
                return signer.loads(" b ")


            def test_sub():
                assert check(Sub()) == "b"
            """
        ),
    }
    for n in range(IMPORTERS):
        files[f"tests/test_other_{n}.py"] = f"import pkg\n\n\ndef test_other_{n}():\n    assert pkg.VERSION == 1\n"
    return files


def site(file, line):
    return {"file": file, "line": line, "column": 1, "context": ""}


def answer(*references):
    return {"symbol": "answered", "reference_count": len(references), "references": [site(*r) for r in references]}


# What a real reference tool answers, by the position it is asked about: for the method, only
# the typed call; for the class, its imports, the base list, the re-export (the alias's own
# name, whose references include the class's own line) and the typed uses.
SCENARIO = {
    "refs": {
        "targets": {
            "pkg/base.py:2:9": answer(("tests/test_base.py", 5)),
            "pkg/base.py:1:7": answer(("pkg/__init__.py", 1), ("pkg/sub.py", 1), ("pkg/sub.py", 4)),
            "pkg/__init__.py:1:30": answer(("pkg/base.py", 1), ("tests/test_base.py", 1), ("tests/test_base.py", 5)),
            "pkg/sub.py:4:7": answer(("pkg/__init__.py", 2), ("tests/test_sub.py", 1), ("tests/test_sub.py", 9)),
        }
    }
}


@pytest.fixture
def signer(repo, fake_qlo):
    for rel, text in generated_project().items():
        repo.write(rel, text)
    repo.commit("signer")
    fake_qlo.set(SCENARIO)
    return repo


def node_ids(pindrel, repo, fake_qlo):
    r = pindrel("run", "--dry-run", "--format", "json", cwd=repo.path, env=fake_qlo.env)
    assert (r.status, r.err) == (0, ""), r
    plan = json.loads(r.out)
    assert (plan["verdict"], plan["decision"]) == ("selected", "selected")
    return [node["node_id"] for node in plan["node_ids"]]


def test_a_changed_method_body_selects_the_tests_of_the_base_and_the_subclass(pindrel, signer, fake_qlo):
    body = (signer.path / "pkg/base.py").read_text()
    (signer.path / "pkg/base.py").write_text(body.replace("text.strip()", "text.upper()"))

    assert node_ids(pindrel, signer, fake_qlo) == ["tests/test_base.py::test_base", "tests/test_sub.py::test_sub"]

    r = pindrel("impacted-tests", "--format", "json", cwd=signer.path, env=fake_qlo.env)
    tests = {t["file"]: t for t in json.loads(r.out)["impacted_tests"]}
    # The subclass is reached as the carrier of the inherited method.
    assert tests["tests/test_sub.py"]["via"] == ["pkg.sub:Sub"]
    assert tests["tests/test_sub.py"]["origin"] == "pkg.base:Base.loads"

    r = pindrel("run", "--", "-q", cwd=signer.path, env=fake_qlo.env)
    assert r.status == 1 and "2 failed" in r.out and "test_other" not in r.out, r


def test_a_changed_class_creation_hook_still_reaches_every_importer(pindrel, signer, fake_qlo):
    # Defining Sub runs __init_subclass__ when pkg.sub is imported, and so when pkg is.
    body = (signer.path / "pkg/base.py").read_text()
    (signer.path / "pkg/base.py").write_text(
        body.replace("super().__init_subclass__(**kwargs)", "raise TypeError('no subclasses')")
    )
    scenario = json.loads(json.dumps(SCENARIO))
    scenario["refs"]["targets"]["pkg/base.py:5:9"] = answer()
    fake_qlo.set(scenario)

    selected = set(node_ids(pindrel, signer, fake_qlo))
    assert {f"tests/test_other_{n}.py" for n in range(IMPORTERS)} | {"tests/test_sub.py"} <= selected

    r = pindrel("run", "--", "-q", cwd=signer.path, env=fake_qlo.env)
    assert r.status != 0 and "no subclasses" in r.out, r
