"""Changes that break a module when it is imported reach every test that imports it, directly
or through other modules, with real pytest and the stand-in reference tool."""

import json
import os
import textwrap

import pytest


def src(text: str) -> str:
    return textwrap.dedent(text).lstrip("\n")


PROJECT = {
    "pyproject.toml": src(
        """
        [project]
        name = "shop"

        [tool.pytest.ini_options]
        pythonpath = ["."]
        addopts = "-p no:cacheprovider"

        [tool.pindrel]
        pytest-command = ["/usr/bin/python3", "-m", "pytest"]
        """
    ),
    "pkg/__init__.py": "",
    "pkg/consts.py": "RATE = 2\n",
    "pkg/shop.py": src(
        """
        from pkg.consts import RATE


        def price(amount):
            return amount * RATE
        """
    ),
    "pkg/core.py": src(
        """
        LIMIT = 10


        def helper():
            return 1


        def other():
            return 2
        """
    ),
    "pkg/api.py": src(
        """
        from pkg.core import helper, other


        def serve():
            return other()
        """
    ),
    "pkg/tests/__init__.py": "",
    "pkg/tests/test_limit.py": src(
        """
        from ..core import LIMIT


        def test_limit():
            assert LIMIT == 10
        """
    ),
    "tests/test_shop.py": src(
        """
        from pkg.shop import price


        def test_price():
            assert price(3) == 6
        """
    ),
    "tests/test_api.py": src(
        """
        from pkg.api import serve


        def test_serve():
            assert serve() == 2
        """
    ),
    "tests/test_other.py": "def test_other():\n    assert True\n",
}


def edit(repo, rel, old, new):
    path = repo.path / rel
    text = path.read_text()
    assert old in text, (rel, old)
    path.write_text(text.replace(old, new, 1))


# Each case: the change, the test files selected, and the one of them that breaks.
CASES = {
    # The test imports only pkg.shop, which imports the constant at import time.
    "constant_used_through_another_module": (
        lambda repo: edit(repo, "pkg/consts.py", "RATE = 2", "RATE = 3"),
        ["tests/test_shop.py"],
        "tests/test_shop.py",
    ),
    # The test imports the constant with a relative import from a package of tests; pkg/api.py
    # imports the module too, so its test runs as well.
    "relative_import_in_a_test_package": (
        lambda repo: edit(repo, "pkg/core.py", "LIMIT = 10", "LIMIT = 5"),
        ["pkg/tests/test_limit.py", "tests/test_api.py"],
        "pkg/tests/test_limit.py",
    ),
    # pkg/api.py still imports the deleted function, so importing it fails.
    "deleted_function_still_imported": (
        lambda repo: edit(repo, "pkg/core.py", "def helper():\n    return 1\n\n\n", ""),
        ["tests/test_api.py"],
        "tests/test_api.py",
    ),
}


@pytest.fixture
def shop(repo, fake_qlo):
    for rel, text in PROJECT.items():
        repo.write(rel, text)
    repo.commit("shop")
    # Whatever the tool is asked, nothing references it: only the import lines reach the tests.
    fake_qlo.set({"refs": {"targets": {}}})
    return repo


@pytest.mark.parametrize("change, selected, broken", CASES.values(), ids=CASES.keys())
def test_the_broken_test_file_is_selected_and_fails(pindrel, shop, fake_qlo, change, selected, broken):
    change(shop)
    r = pindrel("run", "--dry-run", "--format", "json", cwd=shop.path, env=fake_qlo.env)
    assert (r.status, r.err) == (0, ""), r
    plan = json.loads(r.out)
    assert (plan["verdict"], plan["decision"]) == ("selected", "selected")
    assert [node["node_id"] for node in plan["node_ids"]] == selected

    r = pindrel("run", "--", "-q", cwd=shop.path, env=fake_qlo.env)
    assert r.status != 0, r
    assert broken in r.out and "test_other" not in r.out, r


def test_the_chain_shows_the_importing_modules(pindrel, shop, fake_qlo):
    edit(shop, "pkg/consts.py", "RATE = 2", "RATE = 3")
    r = pindrel("impacted-tests", "--format", "json", cwd=shop.path, env=fake_qlo.env)
    assert (r.status, r.err) == (0, ""), r
    report = json.loads(r.out)
    assert report["impacted_tests"] == [
        {"file": "tests/test_shop.py", "symbol": None, "via": ["pkg.shop"], "origin": "pkg.consts", "kind": "test"}
    ]


# Small projects, each with a constant that a module reads at import time, the test that
# breaks when it changes, and a test that does not import it.
LAYOUTS = {
    # ns holds no __init__.py: the module pkg.consts is imported as ns.pkg.consts.
    "namespace_package": {
        "ns/pkg/__init__.py": "",
        "ns/pkg/consts.py": "RATE = 2\n",
        "ns/pkg/shop.py": "from ns.pkg.consts import RATE\n\nPRICE = 3 * RATE\n",
        "tests/test_shop.py": "from ns.pkg.shop import PRICE\n\n\ndef test_price():\n    assert PRICE == 6\n",
    },
    # The import list opens on the line that names the first module and goes on below.
    "hanging_import_list": {
        "pkg/__init__.py": "",
        "pkg/units.py": "UNIT = 1\n",
        "pkg/consts.py": "RATE = 2\n",
        "pkg/shop.py": "from pkg import (units,\n                 consts)\n\nPRICE = 3 * consts.RATE\n",
        "tests/test_shop.py": "from pkg.shop import PRICE\n\n\ndef test_price():\n    assert PRICE == 6\n",
    },
}


@pytest.mark.parametrize("files", LAYOUTS.values(), ids=LAYOUTS.keys())
def test_a_constant_read_at_import_reaches_the_test_through_the_layout(pindrel, repo, fake_qlo, files):
    other = {"pyproject.toml": PROJECT["pyproject.toml"], "tests/test_other.py": PROJECT["tests/test_other.py"]}
    for rel, text in {**files, **other}.items():
        repo.write(rel, text)
    repo.commit("project")
    fake_qlo.set({"refs": {"targets": {}}})
    consts = next(rel for rel in files if rel.endswith("consts.py"))
    repo.write(consts, "RATE = 3\n")

    r = pindrel("run", "--dry-run", "--format", "json", cwd=repo.path, env=fake_qlo.env)
    assert (r.status, r.err) == (0, ""), r
    plan = json.loads(r.out)
    assert [node["node_id"] for node in plan["node_ids"]] == ["tests/test_shop.py"]

    r = pindrel("run", "--", "-q", cwd=repo.path, env=fake_qlo.env)
    assert r.status == 1 and "test_shop.py::test_price" in r.out, r


# compute_rate is named at 1:5. pkg/config.py calls it in a class body (5:12) and pkg/fees.py
# in a default value (4:22): both run it when the module is imported.
AT_IMPORT = {
    "pyproject.toml": PROJECT["pyproject.toml"],
    "pkg/__init__.py": "",
    "pkg/rates.py": "def compute_rate():\n    return 2\n",
    "pkg/config.py": src(
        """
        from pkg.rates import compute_rate


        class Config:
            rate = compute_rate()


        def other():
            return 1
        """
    ),
    "pkg/fees.py": src(
        """
        from pkg.rates import compute_rate


        def fee(amount, rate=compute_rate()):
            return amount * rate
        """
    ),
    "tests/test_config.py": "from pkg.config import other\n\n\ndef test_other():\n    assert other() == 1\n",
    "tests/test_fees.py": "from pkg.fees import fee\n\n\ndef test_fee():\n    assert fee(1, 2) == 2\n",
    "tests/test_other.py": PROJECT["tests/test_other.py"],
}


def test_a_symbol_run_by_a_class_body_or_a_default_breaks_the_importers(pindrel, repo, fake_qlo):
    for rel, text in AT_IMPORT.items():
        repo.write(rel, text)
    repo.commit("project")
    sites = [("pkg/config.py", 1, 22), ("pkg/config.py", 5, 12), ("pkg/fees.py", 1, 22), ("pkg/fees.py", 4, 22)]
    references = [{"file": f, "line": line, "column": column, "context": ""} for f, line, column in sites]
    answer = {"symbol": "pkg.rates:compute_rate", "reference_count": len(references), "references": references}
    fake_qlo.set({"refs": {"targets": {"pkg/rates.py:1:5": answer}}})
    repo.write("pkg/rates.py", "def compute_rate():\n    raise RuntimeError('no rate')\n")

    r = pindrel("run", "--dry-run", "--format", "json", cwd=repo.path, env=fake_qlo.env)
    assert (r.status, r.err) == (0, ""), r
    plan = json.loads(r.out)
    assert [node["node_id"] for node in plan["node_ids"]] == ["tests/test_config.py", "tests/test_fees.py"]

    r = pindrel("run", "--", "-q", cwd=repo.path, env=fake_qlo.env)
    assert r.status != 0 and "no rate" in r.out and "test_other" not in r.out, r


RATE_TEST = "\n\n\ndef test_rate():\n    assert RATE == 2\n"

# Test files that import pkg.consts in every spelling Python reads, one through pkg/shop.py,
# beside one whose docstring only shows an import line.
SPELLINGS = {
    "pyproject.toml": PROJECT["pyproject.toml"],
    "pkg/__init__.py": "",
    "pkg/consts.py": "RATE = 2\n",
    "pkg/shop.py": "from.consts import RATE\n\nPRICE = 3 * RATE\n",
    "pkg/tests/__init__.py": "",
    "pkg/tests/test_up.py": "from..consts import RATE" + RATE_TEST,
    "tests/test_bom.py": ("from pkg.consts import RATE" + RATE_TEST).encode("utf-8-sig"),
    "tests/test_blanks.py": "from pkg . consts import RATE" + RATE_TEST,
    "tests/test_blank_import.py": "import pkg. consts\n\n\ndef test_rate():\n    assert pkg.consts.RATE == 2\n",
    "tests/test_lone_cr.py": ("import os\nfrom pkg.consts import RATE" + RATE_TEST).replace("\n", "\r").encode(),
    "tests/test_shop.py": "from pkg.shop import PRICE\n\n\ndef test_price():\n    assert PRICE == 6\n",
    "tests/test_docs.py": '"""Shows how to read the rate:\n\nimport pkg.consts\n"""\n\n\ndef test_docs():\n    assert True\n',
    "tests/test_other.py": PROJECT["tests/test_other.py"],
}


def test_every_spelling_of_an_import_selects_its_test_file(pindrel, repo, fake_qlo):
    for rel, text in SPELLINGS.items():
        repo.write(rel, text)
    repo.commit("project")
    fake_qlo.set({"refs": {"targets": {}}})
    repo.write("pkg/consts.py", "RATE = 3\n")

    r = pindrel("run", "--dry-run", "--format", "json", cwd=repo.path, env=fake_qlo.env)
    assert (r.status, r.err) == (0, ""), r
    plan = json.loads(r.out)
    selected = [node["node_id"] for node in plan["node_ids"]]
    assert selected == [
        "pkg/tests/test_up.py",
        "tests/test_blank_import.py",
        "tests/test_blanks.py",
        "tests/test_bom.py",
        "tests/test_lone_cr.py",
        "tests/test_shop.py",
    ]

    r = pindrel("run", "--", "-q", cwd=repo.path, env=fake_qlo.env)
    assert r.status == 1 and "6 failed" in r.out and "test_docs" not in r.out, r


CAFE = os.fsdecode(b"tests/test_caf\xe9.py")

# A test file whose name is not UTF-8 beside one that is; each imports a module of its own.
UNDECODABLE = {
    "pyproject.toml": PROJECT["pyproject.toml"],
    "pkg/__init__.py": "",
    "pkg/rate.py": "RATE = 2\n",
    "pkg/fee.py": "FEE = 1\n",
    "tests/conftest.py": "",
    CAFE: "from pkg.rate import RATE" + RATE_TEST,
    "tests/test_fee.py": "from pkg.fee import FEE\n\n\ndef test_fee():\n    assert FEE == 1\n",
}


def test_a_listed_test_file_not_named_in_utf8_runs_the_whole_suite_when_it_is_needed(pindrel, repo, fake_qlo):
    for rel, text in UNDECODABLE.items():
        repo.write(rel, text)
    repo.commit("project")
    fake_qlo.set({"refs": {"targets": {}}})

    # The walk reaches it: no report can name it.
    repo.write("pkg/rate.py", "RATE = 3\n")
    r = pindrel("impacted-tests", "--format", "json", cwd=repo.path, env=fake_qlo.env)
    assert (r.status, r.err) == (0, ""), r
    report = json.loads(r.out)
    assert (report["verdict"], report["reason"], report["errors"]) == (
        "run_all",
        "index_failed",
        ['listed path "tests/test_caf\\xE9.py" is not valid UTF-8'],
    )
    r = pindrel("run", "--", "-q", cwd=repo.path, env=fake_qlo.env)
    assert r.status == 1 and "test_caf" in r.out and "1 failed, 1 passed" in r.out, r

    # Nothing needs it: the selection is as precise as ever.
    repo.write("pkg/rate.py", "RATE = 2\n")
    repo.write("pkg/fee.py", "FEE = 2\n")
    r = pindrel("run", "--dry-run", "--format", "json", cwd=repo.path, env=fake_qlo.env)
    plan = json.loads(r.out)
    assert (plan["verdict"], plan["decision"]) == ("selected", "selected"), r
    assert [node["node_id"] for node in plan["node_ids"]] == ["tests/test_fee.py"]

    # The selection would take it, as a test file under a changed conftest.py.
    repo.write("pkg/fee.py", "FEE = 1\n")
    repo.write("tests/conftest.py", "import pytest\n")
    r = pindrel("run", "--dry-run", "--format", "json", cwd=repo.path, env=fake_qlo.env)
    plan = json.loads(r.out)
    assert (plan["verdict"], plan["reason"], plan["decision"]) == ("run_all", "index_failed", "run_all"), r
