"""Changes that break their importers when the module is imported, and test support code:
`run` must select the test files that break, with real pytest and the stand-in reference tool
answering that nothing names the changed code."""

import json
import textwrap

import pytest

PYTEST = ["/usr/bin/python3", "-m", "pytest"]

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

NOBODY_NAMES_ANYTHING = {"refs": {"targets": {}}}


def commit(repo, files):
    for rel, text in {"pyproject.toml": PYPROJECT, **files}.items():
        repo.write(rel, textwrap.dedent(text))
    repo.commit("project")


def run(pindrel, repo, fake_qlo, *args):
    return pindrel("run", *args, cwd=repo.path, env=fake_qlo.env)


def dry_run_plan(pindrel, repo, fake_qlo):
    r = run(pindrel, repo, fake_qlo, "--dry-run", "--format", "json")
    assert (r.status, r.err) == (0, ""), r
    return json.loads(r.out)


def selected_files(plan):
    return sorted({n["node_id"].split("::")[0] for n in plan["node_ids"]})


MONEY = {
    "pkg/__init__.py": "",
    "pkg/money.py": """\
        def cents(amount):
            return round(amount * 100)
        """,
    "tests/test_money.py": """\
        from pkg.money import cents


        def test_cents():
            assert cents(1.5) == 150
        """,
    "tests/test_other.py": """\
        def test_other():
            assert True
        """,
}


def test_an_annotation_naming_what_the_module_lacks_selects_its_importers(pindrel, repo, fake_qlo):
    commit(repo, MONEY)
    repo.write(
        "pkg/money.py",
        textwrap.dedent(MONEY["pkg/money.py"]) + "\n\ndef to_money(x: Decimal):\n    return x\n",
    )
    fake_qlo.set(NOBODY_NAMES_ANYTHING)

    r = pindrel("changed-symbols", "--format", "json", cwd=repo.path)
    assert json.loads(r.out)["module_level_changes"] == [{"module": "pkg.money", "file": "pkg/money.py"}]

    plan = dry_run_plan(pindrel, repo, fake_qlo)
    assert (plan["decision"], selected_files(plan)) == ("selected", ["tests/test_money.py"])
    # The selection holds the test file that now fails to import, and pytest says so.
    r = run(pindrel, repo, fake_qlo, "--", "-q")
    assert r.status != 0 and "NameError" in r.out and "Decimal" in r.out, r


ORDERS = {
    "pkg/__init__.py": "",
    "pkg/orders.py": """\
        def total(order):
            return sum(order)
        """,
    "tests/helpers.py": """\
        def make_order():
            return [1, 2]
        """,
    "tests/test_orders.py": """\
        from helpers import make_order

        from pkg.orders import total


        def test_total():
            assert total(make_order()) == 3
        """,
    "tests/test_other.py": """\
        def test_other():
            assert True
        """,
}


def test_a_changed_test_helper_selects_the_test_files_that_import_it(pindrel, repo, fake_qlo):
    commit(repo, ORDERS)
    repo.write("tests/helpers.py", "def make_order():\n    return [1, 2, 3]\n")
    fake_qlo.set(NOBODY_NAMES_ANYTHING)

    plan = dry_run_plan(pindrel, repo, fake_qlo)
    assert (plan["decision"], selected_files(plan)) == ("selected", ["tests/test_orders.py"])
    assert plan["node_ids"] == [{"node_id": "tests/test_orders.py", "via": [], "origin": "helpers"}]
    r = run(pindrel, repo, fake_qlo, "--", "-q")
    assert r.status == 1 and "1 failed" in r.out and "test_other" not in r.out, r


CONTRACT = {
    "pkg/__init__.py": "",
    "pkg/calc.py": """\
        def add(a, b):
            return a + b
        """,
    "tests/base.py": """\
        from pkg.calc import add


        class AddContract:
            def test_add_contract(self):
                assert add(1, 2) == 3
        """,
    "tests/test_impl.py": """\
        from base import AddContract


        class TestImpl(AddContract):
            pass
        """,
    "tests/test_other.py": """\
        def test_other():
            assert True
        """,
}

# add is named at 1:5; its one reference is the call inside the inherited test.
ADD_REACHES_THE_CONTRACT = {
    "refs": {
        "targets": {
            "pkg/calc.py:1:5": {
                "symbol": "pkg.calc:add",
                "references": [],
                "test_references": [{"file": "tests/base.py", "line": 6, "column": 16, "context": ""}],
            }
        }
    }
}


def test_a_test_reached_in_a_support_file_runs_the_test_files_that_inherit_it(pindrel, repo, fake_qlo):
    commit(repo, CONTRACT)
    repo.write("pkg/calc.py", "def add(a, b):\n    return a - b\n")
    fake_qlo.set(ADD_REACHES_THE_CONTRACT)

    plan = dry_run_plan(pindrel, repo, fake_qlo)
    assert plan["node_ids"] == [
        {"node_id": "tests/test_impl.py", "via": ["base", "tests.base:AddContract.test_add_contract"],
         "origin": "pkg.calc:add"}
    ]
    assert (plan["decision"], plan["dropped"]) == ("selected", [])
    r = run(pindrel, repo, fake_qlo, "--", "-q")
    assert r.status == 1 and "1 failed" in r.out and "TestImpl::test_add_contract" in r.out, r


SUITE = {
    "conftest.py": """\
        def pytest_configure(config):
            config.addinivalue_line("markers", "slow: a slow test")
        """,
    "test_top.py": "def test_top():\n    assert True\n",
    "tests/test_a.py": "def test_a():\n    assert True\n",
    "tests/deep/test_b.py": "def test_b():\n    assert True\n",
    "lib/conftest.py": "import pytest\n\n\n@pytest.fixture\ndef unit():\n    return 1\n",
    "lib/test_lib.py": "def test_lib(unit):\n    assert unit == 1\n",
}


def test_a_changed_top_level_conftest_selects_the_whole_suite(pindrel, repo, fake_qlo):
    commit(repo, SUITE)
    repo.write("conftest.py", "def pytest_configure(config):\n    raise RuntimeError('broken hook')\n")
    fake_qlo.set(NOBODY_NAMES_ANYTHING)

    r = pindrel("changed-symbols", "--format", "json", cwd=repo.path)
    report = json.loads(r.out)
    assert (report["test_files_changed"], report["changed_symbols"]) == (["conftest.py"], [])
    plan = dry_run_plan(pindrel, repo, fake_qlo)
    assert selected_files(plan) == ["lib/test_lib.py", "test_top.py", "tests/deep/test_b.py", "tests/test_a.py"]
    r = run(pindrel, repo, fake_qlo, "--", "-q")
    assert r.status != 0 and "broken hook" in r.out + r.err, r


def test_a_changed_conftest_outside_a_tests_directory_selects_its_subtree(pindrel, repo, fake_qlo):
    commit(repo, SUITE)
    repo.write("lib/conftest.py", "import pytest\n\n\n@pytest.fixture\ndef unit():\n    return 2\n")
    fake_qlo.set(NOBODY_NAMES_ANYTHING)

    plan = dry_run_plan(pindrel, repo, fake_qlo)
    assert (plan["decision"], selected_files(plan)) == ("selected", ["lib/test_lib.py"])
    r = run(pindrel, repo, fake_qlo, "--", "-q")
    assert r.status == 1 and "1 failed" in r.out, r


def test_a_changed_test_package_init_selects_the_test_files_below_it(pindrel, repo, fake_qlo):
    # pytest imports tests/__init__.py for every test module of the package, though none
    # imports it by name.
    commit(repo, {**SUITE, "tests/__init__.py": "", "tests/deep/__init__.py": ""})
    repo.write("tests/__init__.py", "raise RuntimeError('broken package')\n")
    fake_qlo.set(NOBODY_NAMES_ANYTHING)

    plan = dry_run_plan(pindrel, repo, fake_qlo)
    assert (plan["decision"], selected_files(plan)) == ("selected", ["tests/deep/test_b.py", "tests/test_a.py"])
    r = run(pindrel, repo, fake_qlo, "--", "-q")
    assert r.status != 0 and "broken package" in r.out and "test_lib" not in r.out, r


def test_a_fixture_of_the_top_level_conftest_reaches_the_tests_that_ask_for_it(pindrel, repo, fake_qlo):
    commit(
        repo,
        {
            "pkg/__init__.py": "",
            "pkg/rates.py": "def compute_rate():\n    return 2\n",
            # compute_rate is called on line 8, column 12.
            "conftest.py": """\
                import pytest

                from pkg.rates import compute_rate


                @pytest.fixture
                def rate():
                    return compute_rate()
                """,
            "tests/test_rate.py": "def test_rate(rate):\n    assert rate == 2\n",
            "tests/test_plain.py": "def test_plain():\n    assert True\n",
        },
    )
    references = [{"file": "conftest.py", "line": 8, "column": 12, "context": ""}]
    answer = {"symbol": "pkg.rates:compute_rate", "reference_count": 1, "references": references}
    fake_qlo.set({"refs": {"targets": {"pkg/rates.py:1:5": answer}}})
    repo.write("pkg/rates.py", "def compute_rate():\n    return 3\n")

    plan = dry_run_plan(pindrel, repo, fake_qlo)
    assert [n["node_id"] for n in plan["node_ids"]] == ["tests/test_rate.py::test_rate"]
    r = run(pindrel, repo, fake_qlo, "--", "-q")
    assert r.status == 1 and "1 failed" in r.out, r


# Test code that other test files import: a test module, a conftest.py whose helper another
# directory imports, and a test module reached only through another test module.
IMPORTED_TEST_CODE = {
    "tests/test_models.py": """\
        def make_user():
            return {"name": "ann"}


        def test_make_user():
            assert make_user()
        """,
    "tests/test_api.py": """\
        from tests.test_models import make_user


        def test_api():
            assert make_user()["name"] == "ann"
        """,
    "tests/test_reexport.py": """\
        from tests.test_api import make_user


        def test_reexport():
            assert make_user() == {"name": "ann"}
        """,
    "tests/api/conftest.py": """\
        def make_token():
            return "abc"
        """,
    "tests/api/test_token.py": "def test_token():\n    assert True\n",
    "tests/web/test_web.py": """\
        from tests.api.conftest import make_token


        def test_web():
            assert make_token() == "abc"
        """,
    "tests/test_other.py": "def test_other():\n    assert True\n",
}


@pytest.mark.parametrize(
    "changed, text, expected",
    [
        (
            "tests/test_models.py",
            'def make_user():\n    return {"name": "bob"}\n\n\ndef test_make_user():\n    assert make_user()\n',
            {"tests/test_models.py": 0, "tests/test_api.py": 1, "tests/test_reexport.py": 1},
        ),
        (
            "tests/api/conftest.py",
            'def make_token():\n    return "xyz"\n',
            {"tests/api/test_token.py": 0, "tests/web/test_web.py": 1},
        ),
    ],
    ids=["test module", "conftest"],
)
def test_a_changed_test_module_or_conftest_selects_the_test_files_that_import_it(
    pindrel, repo, fake_qlo, changed, text, expected
):
    commit(repo, IMPORTED_TEST_CODE)
    repo.write(changed, text)
    fake_qlo.set(NOBODY_NAMES_ANYTHING)

    plan = dry_run_plan(pindrel, repo, fake_qlo)
    assert (plan["decision"], selected_files(plan)) == ("selected", sorted(expected))
    r = run(pindrel, repo, fake_qlo, "--", "-q", "-rA")
    failed = sorted(line.split()[1].split("::")[0] for line in r.out.splitlines() if line.startswith("FAILED "))
    assert failed == sorted(f for f, fails in expected.items() if fails), r
    assert "test_other" not in r.out, r


def test_a_walked_helper_of_a_test_module_runs_the_test_files_that_import_it(pindrel, repo, fake_qlo):
    commit(
        repo,
        {
            "pkg/__init__.py": "",
            "pkg/users.py": "def name():\n    return 'ann'\n",
            # name is called on line 5, column 21; make_user on line 9, column 12.
            "tests/test_models.py": """\
                from pkg.users import name


                def make_user():
                    return {"name": name()}


                def test_make_user():
                    assert make_user()["name"] == "ann"
                """,
            # Imported by its path below tests/, which pytest puts on sys.path: a real reference
            # tool does not resolve the import, and reports no use here.
            "tests/test_api.py": """\
                from test_models import make_user


                def test_api():
                    assert make_user()["name"] == "ann"
                """,
            "tests/test_other.py": "def test_other():\n    assert True\n",
        },
    )
    repo.write("pkg/users.py", "def name():\n    return 'bob'\n")

    def answer(symbol, line, column):
        site = {"file": "tests/test_models.py", "line": line, "column": column, "context": ""}
        return {"symbol": symbol, "references": [], "test_references": [site]}

    fake_qlo.set({"refs": {"targets": {"pkg/users.py:1:5": answer("pkg.users:name", 5, 21),
                                       "tests/test_models.py:4:5": answer("tests.test_models:make_user", 9, 12)}}})

    plan = dry_run_plan(pindrel, repo, fake_qlo)
    assert [n["node_id"] for n in plan["node_ids"]] == ["tests/test_api.py", "tests/test_models.py::test_make_user"]
    r = run(pindrel, repo, fake_qlo, "--", "-q")
    assert r.status == 1 and "2 failed" in r.out and "test_other" not in r.out, r
