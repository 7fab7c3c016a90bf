"""Changes that break their importers when the module is imported, and test support code:
`run` must select the test files that break, with real pytest and the stand-in reference tool
answering that nothing names the changed code."""

import json
import textwrap

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
