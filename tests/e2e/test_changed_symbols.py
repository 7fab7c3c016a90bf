"""`pindrel changed-symbols`: the definitions the working tree changed, as text and as JSON."""

import json
import os
import stat
import subprocess
import textwrap

import pytest


def src(text: str) -> str:
    return textwrap.dedent(text).lstrip("\n")


def merge_base(repo, ref="main") -> str:
    return repo.git("merge-base", "HEAD", ref).strip()


def changed_text(pindrel, repo, *args, base="main", cwd=None, env=None) -> str:
    """The text after the base line; the base line itself is checked here."""
    r = pindrel("changed-symbols", *args, cwd=cwd or repo.path, env=env)
    assert (r.status, r.err) == (0, ""), r
    head = f"base {base} (merge-base {merge_base(repo, base)[:7]})\n"
    assert r.out.startswith(head), r
    return r.out[len(head):]


def changed_json(pindrel, repo, *args, env=None) -> dict:
    r = pindrel("changed-symbols", "--format", "json", *args, cwd=repo.path, env=env)
    assert (r.status, r.err) == (0, ""), r
    return json.loads(r.out)


def symbols(report, key="changed_symbols"):
    return [(e["change"], e["kind"], e["symbol"], e["file"]) for e in report[key]]


GREETER = src(
    """
    class Greeter:
        greeting = "hi"

        def hello(self):
            return self.greeting


    def helper():
        return 1
    """
)


# ---- what a change inside the files reports ------------------------------------------


def test_a_change_reports_the_innermost_definition(pindrel, repo):
    repo.write("pkg/__init__.py", "")
    repo.write("pkg/mod.py", GREETER)
    repo.commit()
    repo.write(
        "pkg/mod.py",
        GREETER.replace('greeting = "hi"', 'greeting = "hello"').replace(
            "return self.greeting", 'return self.greeting + "!"'
        ),
    )
    assert changed_text(pindrel, repo) == (
        "\n"
        "changed symbols (2)\n"
        "  modified  class     pkg.mod:Greeter        pkg/mod.py\n"
        "  modified  method    pkg.mod:Greeter.hello  pkg/mod.py\n"
        # The class attribute runs when the module is imported.
        "\n"
        "module-level changes (1)\n"
        "  pkg.mod  pkg/mod.py\n"
    )


NESTED = src(
    """
    class Outer:
        attr = 1

        class Inner:
            value = 2

            def deep(self):
                return 3

        def method(self):
            return 4


    x = 5
    """
)


# A class body's own statements run at import time, so they change the module as well;
# a method's body does not.
@pytest.mark.parametrize(
    "old, new, expected, at_import",
    [
        ("return 3", "return 30", [("modified", "method", "mod:Outer.Inner.deep")], False),
        ("value = 2", "value = 20", [("modified", "class", "mod:Outer.Inner")], True),
        ("attr = 1", "attr = 10", [("modified", "class", "mod:Outer")], True),
        ("return 4", "return 40", [("modified", "method", "mod:Outer.method")], False),
        ("x = 5", "x = 50", [], True),
    ],
)
def test_a_changed_line_belongs_to_its_innermost_definition(pindrel, repo, old, new, expected, at_import):
    repo.write("mod.py", NESTED)
    repo.commit()
    repo.write("mod.py", NESTED.replace(old, new))
    report = changed_json(pindrel, repo)
    assert [(c, k, s) for c, k, s, _ in symbols(report)] == expected
    assert report["module_level_changes"] == ([{"module": "mod", "file": "mod.py"}] if at_import else [])


def test_added_deleted_and_renamed_in_place(pindrel, repo):
    repo.write(
        "mod.py",
        src(
            """
            def keep():
                return 1


            def old_name():
                return 2


            def gone():
                return 3
            """
        ),
    )
    repo.commit()
    repo.write(
        "mod.py",
        src(
            """
            def keep():
                return 1


            def new_name():
                return 2


            def fresh():
                return 4
            """
        ),
    )
    assert changed_text(pindrel, repo) == (
        "\n"
        "changed symbols (4)\n"
        "  added     function  mod:fresh     mod.py\n"
        "  deleted   function  mod:gone      mod.py\n"
        "  added     function  mod:new_name  mod.py\n"
        "  deleted   function  mod:old_name  mod.py\n"
        # Plain defs that came and went evaluate nothing at import: the module is no module-level change.
    )


def test_a_decorator_line_belongs_to_the_decorated_definition(pindrel, repo):
    body = src(
        """
        import functools


        @functools.lru_cache(maxsize=1)
        def cached():
            return 1
        """
    )
    repo.write("mod.py", body)
    repo.commit()
    repo.write("mod.py", body.replace("maxsize=1", "maxsize=2"))
    report = changed_json(pindrel, repo)
    assert report["changed_symbols"] == [
        {"symbol": "mod:cached", "file": "mod.py", "kind": "function", "line": 5, "column": 5, "change": "modified"}
    ]
    # The decorator runs at import time.
    assert report["module_level_changes"] == [{"module": "mod", "file": "mod.py"}]


@pytest.mark.parametrize(
    "edit, expected",
    [
        pytest.param(lambda s: s.replace("import os\n", "import os\n\n"), "", id="blank-line-added"),
        pytest.param(lambda s: s.replace("\n\n\ndef", "\n\ndef"), "", id="blank-line-removed"),
        pytest.param(lambda s: s.replace("import os\n", "import os\n   \t\n"), "", id="white-space-line-added"),
        pytest.param(
            lambda s: "# a comment\n" + s,
            "\nmodule-level changes (1)\n  mod  mod.py\n",
            id="comment-added",
        ),
        pytest.param(
            lambda s: s.replace('"""Old doc."""', '"""New doc."""'),
            "\nmodule-level changes (1)\n  mod  mod.py\n",
            id="module-docstring",
        ),
        pytest.param(
            lambda s: s.replace("    x = 0\n", "    x = 0\n\n"),
            "\nchanged symbols (1)\n  modified  function  mod:f  mod.py\n",
            id="blank-line-inside-a-definition",
        ),
    ],
)
def test_module_level_and_blank_lines(pindrel, repo, edit, expected):
    base = '"""Old doc."""\nimport os\n\n\ndef f():\n    x = 0\n    return 1\n\n\ndef g():\n    return 2\n'
    repo.write("mod.py", base)
    repo.commit()
    repo.write("mod.py", edit(base))
    assert changed_text(pindrel, repo) == (expected or "\nNo changes against main.\n")


def test_no_changes(pindrel, repo):
    repo.write("mod.py", "def f():\n    return 1\n")
    repo.commit()
    assert changed_text(pindrel, repo) == "\nNo changes against main.\n"


def test_a_file_that_stops_parsing(pindrel, repo):
    repo.write("mod.py", "def f():\n    return 1\n\n\ndef g():\n    return 2\n")
    repo.commit()
    repo.write("mod.py", "def f(:\n    return 1\n\n\ndef g():\n    return 2\n")
    assert changed_text(pindrel, repo) == (
        "\n"
        "module-level changes (1)\n"
        "  mod  mod.py\n"
        "\n"
        "parse errors (1)\n"
        "  mod.py\n"
    )


def test_a_moved_file_that_stops_parsing_lists_both_versions(pindrel, repo):
    repo.write("util.py", "import os\n\n\ndef f():\n    return os.sep\n")
    repo.commit()
    repo.git("mv", "util.py", "lib.py")
    repo.write("lib.py", "import os\n\n\ndef f(:\n    return os.sep\n")
    report = changed_json(pindrel, repo)
    assert report["module_level_changes"] == [
        {"module": "lib", "file": "lib.py"},
        {"module": "util", "file": "util.py"},
    ]
    assert report["errors"] == ["lib.py"]
    assert report["changed_symbols"] == []


# ---- whole files: moves, untracked and deleted files -----------------------------------


def test_a_moved_file_deletes_the_old_names_and_adds_the_new(pindrel, repo):
    repo.write("util.py", "import os\n\n\ndef f():\n    return os.sep\n")
    repo.commit()
    (repo.path / "lib").mkdir()
    repo.git("mv", "util.py", "lib/util.py")
    assert changed_text(pindrel, repo) == (
        "\n"
        "changed symbols (2)\n"
        "  added     function  lib.util:f  lib/util.py\n"
        "  deleted   function  util:f      util.py\n"
        "\n"
        "module-level changes (2)\n"
        "  lib.util  lib/util.py\n"
        "  util      util.py\n"
    )


def test_an_untracked_file_is_wholly_new(pindrel, repo):
    repo.write("mod.py", "x = 1\n")
    repo.commit()
    repo.write(
        "new.py",
        src(
            """
            import os


            def a():
                pass


            class B:
                def m(self):
                    pass
            """
        ),
    )
    repo.write("notes.txt", "hello\n")
    assert changed_text(pindrel, repo) == (
        "\n"
        "changed symbols (3)\n"
        "  added     class     new:B    new.py\n"
        "  added     method    new:B.m  new.py\n"
        "  added     function  new:a    new.py\n"
        "\n"
        "module-level changes (1)\n"
        "  new  new.py\n"
        "\n"
        "non-Python changes (1)\n"
        "  notes.txt\n"
    )


def test_a_deleted_file_reports_its_old_positions(pindrel, repo):
    repo.write("pkg/__init__.py", "")
    repo.write("pkg/mod.py", GREETER)
    repo.commit()
    repo.remove("pkg/mod.py")
    report = changed_json(pindrel, repo)
    assert report["changed_symbols"] == [
        {
            "symbol": "pkg.mod:Greeter",
            "file": "pkg/mod.py",
            "kind": "class",
            "line": 1,
            "column": 7,
            "change": "deleted",
        },
        {
            "symbol": "pkg.mod:Greeter.hello",
            "file": "pkg/mod.py",
            "kind": "method",
            "line": 4,
            "column": 9,
            "change": "deleted",
        },
        {
            "symbol": "pkg.mod:helper",
            "file": "pkg/mod.py",
            "kind": "function",
            "line": 8,
            "column": 5,
            "change": "deleted",
        },
    ]
    # The class body and the def lines ran when the module was imported: its importers break.
    assert report["module_level_changes"] == [{"module": "pkg.mod", "file": "pkg/mod.py"}]


def test_committed_changes_since_the_merge_base_count_and_changes_on_the_base_do_not(pindrel, repo):
    repo.write("mod.py", "def f():\n    return 1\n\n\ndef g():\n    return 2\n")
    repo.commit("base")
    repo.git("checkout", "-q", "-b", "feature")
    repo.write("mod.py", "def f():\n    return 10\n\n\ndef g():\n    return 2\n")
    repo.commit("feature work")
    repo.git("checkout", "-q", "main")
    repo.write("other.py", "def h():\n    return 3\n")
    repo.commit("main moves on")
    repo.git("checkout", "-q", "feature")
    repo.write("mod.py", "def f():\n    return 10\n\n\ndef g():\n    return 20\n")
    assert symbols(changed_json(pindrel, repo)) == [
        ("modified", "function", "mod:f", "mod.py"),
        ("modified", "function", "mod:g", "mod.py"),
    ]


# ---- files outside the analysis -------------------------------------------------------


def test_test_files_are_listed_and_never_read(pindrel, repo):
    repo.write("tests/test_api.py", "def test_a():\n    pass\n")
    repo.write("api_test.py", "def test_b():\n    pass\n")
    repo.write("tests/conftest.py", "import pytest\n")
    repo.commit()
    # Invalid UTF-8: reading any of these would fail the command.
    repo.write("tests/test_api.py", b"def test_a():\n    assert '\xff'\n")
    repo.write("api_test.py", b"def test_b():\n    assert '\xfe'\n")
    repo.write("tests/conftest.py", b"import pytest\n\n@pytest.fixture\ndef f():\n    return '\xff'\n")
    assert changed_text(pindrel, repo) == (
        "\n"
        "changed test files (3)\n"
        "  api_test.py\n"
        "  tests/conftest.py\n"
        "  tests/test_api.py\n"
    )


def test_non_python_binary_and_ignored_paths(pindrel, repo):
    repo.write("pyproject.toml", '[tool.pindrel]\nignore-paths = ["docs/**", "*.md"]\n')
    repo.write("docs/index.md", "# Docs\n")
    repo.write("docs/logo.png", b"\x89PNG\x00\x01")
    repo.write("docs/conf.py", "x = 1\n")
    repo.write("README.md", "readme\n")
    repo.write("setup.cfg", "[metadata]\n")
    repo.write("mod.PY", "x = 1\n")
    repo.write("data.py", b"\x00\x01binary")
    repo.commit()
    repo.write("docs/index.md", b"# Docs \xff\n")
    repo.write("docs/logo.png", b"\x89PNG\x00\x02")
    repo.write("docs/conf.py", "x = 2\n")
    repo.write("README.md", "readme!\n")
    repo.write("setup.cfg", "[metadata]\nname = x\n")
    repo.write("mod.PY", "x = 2\n")
    repo.write("data.py", b"\x00\x02binary")
    repo.write("data.md", b"\x00\x02binary")
    assert changed_text(pindrel, repo) == (
        "\n"
        "module-level changes (1)\n"
        "  docs.conf  docs/conf.py\n"
        "\n"
        "non-Python changes (3)\n"
        "  data.py\n"
        "  mod.PY\n"
        "  setup.cfg\n"
        "\n"
        "ignored paths (4)\n"
        "  README.md\n"
        "  data.md\n"
        "  docs/index.md\n"
        "  docs/logo.png\n"
    )


def test_a_mode_change_alone_changes_no_line(pindrel, repo):
    repo.write("run.py", "def main():\n    pass\n")
    repo.commit()
    os.chmod(repo.path / "run.py", 0o755)
    assert changed_text(pindrel, repo) == "\nNo changes against main.\n"


def test_odd_file_names(pindrel, repo):
    repo.write("my mod.py", "def f():\n    return 1\n")
    repo.write("caf\u00e9.py", "def f():\n    return 1\n")
    repo.write("mod.py", "def gg():\n    return 1\n")
    repo.write('qu"ote.py', "def f():\n    return 1\n")
    repo.commit()
    for name in ("my mod.py", "caf\u00e9.py", "mod.py", 'qu"ote.py'):
        text = (repo.path / name).read_text()
        repo.write(name, text.replace("return 1", "return 2"))
    # The symbol column is padded by characters, not bytes. git quotes a name holding
    # a double quote, and such a name never counts as a Python file.
    assert changed_text(pindrel, repo) == (
        "\n"
        "changed symbols (3)\n"
        "  modified  function  caf\u00e9:f    caf\u00e9.py\n"
        "  modified  function  mod:gg    mod.py\n"
        "  modified  function  my mod:f  my mod.py\n"
        "\n"
        "non-Python changes (1)\n"
        '  "b/qu\\"ote.py"\n'
    )


# ---- decorators -----------------------------------------------------------------------


APP = src(
    """
    from web import app


    @app.route("/x")
    def view():
        return 1


    @app.get("/y")
    def other():
        return 2
    """
)


@pytest.mark.parametrize("entry, ignored", [("route", True), ("app.route", True), ("pp.route", False)])
def test_ignore_decorators_matches_whole_dotted_suffixes(pindrel, repo, entry, ignored):
    repo.write("pyproject.toml", f'[tool.pindrel]\nignore-decorators = ["{entry}"]\n')
    repo.write("app.py", APP)
    repo.commit()
    repo.write("app.py", APP.replace("return 1", "return 10").replace("return 2", "return 20"))
    if ignored:
        assert changed_text(pindrel, repo) == (
            "\n"
            "changed symbols (1)\n"
            "  modified  function  app:other  app.py\n"
            "\n"
            "ignored symbols (1)\n"
            f"  modified  function  app:view   app.py  (@{entry})\n"
        )
    else:
        assert changed_text(pindrel, repo) == (
            "\n"
            "changed symbols (2)\n"
            "  modified  function  app:other  app.py\n"
            "  modified  function  app:view   app.py\n"
        )


def test_ignored_symbols_in_json(pindrel, repo):
    repo.write("pyproject.toml", '[tool.pindrel]\nignore-decorators = ["get", "route"]\n')
    repo.write("app.py", APP)
    repo.commit()
    repo.write("app.py", APP.replace("return 1", "return 10"))
    report = changed_json(pindrel, repo)
    assert report["changed_symbols"] == []
    assert report["ignored_symbols"] == [
        {
            "symbol": "app:view",
            "file": "app.py",
            "kind": "function",
            "line": 5,
            "column": 5,
            "change": "modified",
            "ignored_by": "route",
        }
    ]


# ---- layout ---------------------------------------------------------------------------


def test_every_section_in_its_fixed_order(pindrel, repo):
    repo.write("pyproject.toml", '[tool.pindrel]\nignore-decorators = ["route"]\nignore-paths = ["docs/**"]\n')
    repo.write("pkg/__init__.py", "")
    repo.write("pkg/sub/__init__.py", "")
    repo.write("pkg/sub/mod.py", "X = 1\n")
    repo.write("pkg/views.py", APP)
    repo.write("pkg/broken.py", "def f():\n    pass\n")
    repo.write("tests/test_x.py", "def test_x():\n    pass\n")
    repo.write("docs/a.md", "a\n")
    repo.write("Makefile", "all:\n")
    repo.commit()
    repo.write("Makefile", "all:\n\ttrue\n")
    repo.write("docs/a.md", "b\n")
    repo.write("tests/test_x.py", "def test_x():\n    assert 1\n")
    repo.write("pkg/broken.py", "def f(:\n    pass\n")
    repo.write("pkg/__init__.py", "VERSION = 2\n")
    repo.write("pkg/sub/mod.py", "X = 2\n")
    repo.write("pkg/views.py", APP.replace("return 1", "return 10").replace("return 2", "return 20"))
    assert changed_text(pindrel, repo) == (
        "\n"
        "changed symbols (1)\n"
        "  modified  function  pkg.views:other  pkg/views.py\n"
        "\n"
        "ignored symbols (1)\n"
        "  modified  function  pkg.views:view   pkg/views.py  (@route)\n"
        "\n"
        "module-level changes (3)\n"
        "  pkg          pkg/__init__.py\n"
        "  pkg.broken   pkg/broken.py\n"
        "  pkg.sub.mod  pkg/sub/mod.py\n"
        "\n"
        "changed test files (1)\n"
        "  tests/test_x.py\n"
        "\n"
        "non-Python changes (1)\n"
        "  Makefile\n"
        "\n"
        "ignored paths (1)\n"
        "  docs/a.md\n"
        "\n"
        "parse errors (1)\n"
        "  pkg/broken.py\n"
    )


def test_json_layout(pindrel, repo):
    repo.write("mod.py", "def f():\n    return 1\n")
    repo.commit()
    repo.write("mod.py", "def f():\n    return 2\n")
    r = pindrel("changed-symbols", "--format", "json", cwd=repo.path)
    assert (r.status, r.err) == (0, "")
    assert r.out == (
        "{\n"
        '  "base": "main",\n'
        f'  "merge_base": "{merge_base(repo)}",\n'
        '  "changed_symbols": [\n'
        "    {\n"
        '      "symbol": "mod:f",\n'
        '      "file": "mod.py",\n'
        '      "kind": "function",\n'
        '      "line": 1,\n'
        '      "column": 5,\n'
        '      "change": "modified"\n'
        "    }\n"
        "  ],\n"
        '  "ignored_symbols": [],\n'
        '  "module_level_changes": [],\n'
        '  "non_python_changes": [],\n'
        '  "ignored_paths": [],\n'
        '  "test_files_changed": [],\n'
        '  "errors": []\n'
        "}"
    )


def test_json_escapes_and_lists(pindrel, repo):
    repo.write("mod.py", "x = 1\n")
    repo.commit()
    repo.write("mod.py", "x = 2\n")
    repo.write("tab\there.txt", "t\n")
    repo.write("caf\u00e9.md", "c\n")
    r = pindrel("changed-symbols", "--format", "json", cwd=repo.path)
    assert (r.status, r.err) == (0, "")
    # Untracked names come through unquoted: a control character is escaped, non-ASCII is not.
    assert '"non_python_changes": [\n    "caf\u00e9.md",\n    "tab\\there.txt"\n  ],' in r.out
    assert json.loads(r.out)["module_level_changes"] == [{"module": "mod", "file": "mod.py"}]


def test_paths_are_relative_to_the_top_level_from_a_nested_project(pindrel, repo):
    repo.write("pyproject.toml", '[tool.pindrel]\nignore-paths = ["*.txt"]\n')
    repo.write("sub/pyproject.toml", "this is not read = [\n")
    repo.write("sub/pkg/__init__.py", "")
    repo.write("sub/pkg/mod.py", "def f():\n    return 1\n")
    repo.commit()
    repo.write("sub/pkg/mod.py", "def f():\n    return 2\n")
    repo.write("notes.txt", "n\n")
    assert changed_text(pindrel, repo, cwd=repo.path / "sub" / "pkg") == (
        "\n"
        "changed symbols (1)\n"
        "  modified  function  pkg.mod:f  sub/pkg/mod.py\n"
        "\n"
        "ignored paths (1)\n"
        "  notes.txt\n"
    )


# ---- base refs ------------------------------------------------------------------------


def test_origin_main_comes_first(pindrel, repo):
    repo.write("mod.py", "def f():\n    return 1\n")
    first = repo.commit("first")
    repo.write("mod.py", "def f():\n    return 2\n")
    repo.commit("second")
    repo.git("update-ref", "refs/remotes/origin/main", first)
    r = pindrel("changed-symbols", cwd=repo.path)
    assert (r.status, r.err) == (0, "")
    assert r.out == (
        f"base origin/main (merge-base {first[:7]})\n"
        "\n"
        "changed symbols (1)\n"
        "  modified  function  mod:f  mod.py\n"
    )


def test_master_when_there_is_no_main(pindrel, repo):
    repo.write("mod.py", "x = 1\n")
    repo.commit()
    repo.git("branch", "-m", "main", "master")
    assert changed_text(pindrel, repo, base="master") == "\nNo changes against master.\n"


def test_base_names_an_annotated_tag(pindrel, repo):
    repo.write("mod.py", "def f():\n    return 1\n")
    repo.commit()
    repo.git("tag", "-a", "v1", "-m", "release")
    repo.write("mod.py", "def f():\n    return 2\n")
    repo.commit()
    r = pindrel("changed-symbols", "--base", "v1", cwd=repo.path)
    assert (r.status, r.err) == (0, "")
    assert r.out == (
        f"base v1 (merge-base {merge_base(repo, 'v1')[:7]})\n"
        "\n"
        "changed symbols (1)\n"
        "  modified  function  mod:f  mod.py\n"
    )


@pytest.mark.parametrize(
    "args, tried",
    [
        ((), "origin/main, main, master"),
        (("--base", "nope"), "nope"),
        (("--base", "HEAD^{tree}"), "HEAD^{tree}"),
    ],
)
def test_no_usable_base_ref(pindrel, repo, args, tried):
    repo.write("mod.py", "x = 1\n")
    repo.commit()
    repo.git("branch", "-m", "main", "trunk")
    r = pindrel("changed-symbols", *args, cwd=repo.path)
    assert (r.status, r.out) == (2, "")
    assert r.err == f"pindrel: no usable base ref (tried {tried}). Pass --base with a ref that exists.\n"


def test_no_common_ancestor(pindrel, repo):
    repo.write("mod.py", "x = 1\n")
    repo.commit()
    repo.git("checkout", "-q", "--orphan", "other")
    repo.commit("unrelated")
    r = pindrel("changed-symbols", "--base", "main", cwd=repo.path)
    assert (r.status, r.out) == (2, "")
    assert r.err == "pindrel: no common ancestor between HEAD and `main`: `git` exit status: 1 — \n"


# ---- errors ---------------------------------------------------------------------------


def test_a_python_file_that_is_not_utf8(pindrel, repo):
    repo.write("mod.py", "def f():\n    return 1\n")
    repo.commit()
    repo.write("mod.py", b"def f():\n    return '\xff'\n")
    r = pindrel("changed-symbols", cwd=repo.path)
    assert (r.status, r.out) == (2, "")
    assert r.err == "pindrel: could not read mod.py: stream did not contain valid UTF-8\n"


def test_outside_a_repository(pindrel, tmp_path):
    project = tmp_path.resolve() / "plain"
    project.mkdir()
    (project / "pyproject.toml").write_text("")
    r = pindrel("changed-symbols", cwd=project, env={"GIT_CEILING_DIRECTORIES": str(tmp_path)})
    assert (r.status, r.out) == (2, "")
    assert r.err.startswith(f"pindrel: {project} is not inside a git repository: `git` exit status: 128 — fatal: ")


def test_a_bad_configuration(pindrel, repo):
    repo.write("pyproject.toml", '[tool.pindrel]\nignore-paths = ["/abs"]\n')
    repo.commit()
    r = pindrel("changed-symbols", cwd=repo.path)
    assert (r.status, r.out) == (2, "")
    assert r.err == (
        f"pindrel: invalid `ignore-paths` entry in {repo.path.resolve()}/pyproject.toml: "
        "`/abs` is absolute; patterns are relative to the repository root\n"
    )


def test_git_that_cannot_start(pindrel, repo):
    repo.write("mod.py", "x = 1\n")
    repo.commit()
    r = pindrel("changed-symbols", cwd=repo.path, env={"PINDREL_GIT": "/nonexistent/git"})
    assert (r.status, r.out) == (2, "")
    assert r.err == (
        f"pindrel: {repo.path.resolve()} is not inside a git repository: "
        "failed to spawn `/nonexistent/git`: No such file or directory (os error 2)\n"
    )


def git_wrapper(tmp_path, body=""):
    """A git that logs each argument vector to a file, runs `body`, then the real git."""
    real = subprocess.run(["sh", "-c", "command -v git"], capture_output=True, text=True, check=True).stdout.strip()
    log = tmp_path / "git.log"
    script = tmp_path / "git-wrapper"
    script.write_text(f'#!/bin/sh\nprintf "%s\\n" "$*" >> "{log}"\n{body}\nexec "{real}" "$@"\n')
    script.chmod(script.stat().st_mode | stat.S_IXUSR)
    return script, log


@pytest.mark.parametrize(
    "command, message",
    [
        ("ls-files", "could not list untracked files"),
        ("diff", "could not diff the working tree against the merge base"),
    ],
)
def test_a_failing_git_command(pindrel, repo, tmp_path, command, message):
    repo.write("mod.py", "x = 1\n")
    repo.commit()
    wrapper, _ = git_wrapper(tmp_path, f'case "$*" in *" {command} "*) echo "  boom  " >&2; exit 3;; esac')
    r = pindrel("changed-symbols", cwd=repo.path, env={"PINDREL_GIT": str(wrapper)})
    assert (r.status, r.out) == (2, "")
    assert r.err == f"pindrel: {message}: `git` exit status: 3 — boom\n"


def test_git_runs_once_per_question_and_shows_each_old_python_file_once(pindrel, repo, tmp_path):
    repo.write("a.py", "def f():\n    return 1\n\n\ndef g():\n    return 2\n")
    repo.write("gone.py", "def h():\n    pass\n")
    repo.write("tests/test_a.py", "def test_f():\n    pass\n")
    repo.write("notes.md", "n\n")
    repo.commit()
    repo.write("a.py", "def f():\n    return 10\n\n\ndef g():\n    return 20\n")
    repo.remove("gone.py")
    repo.write("tests/test_a.py", "def test_f():\n    assert 1\n")
    repo.write("notes.md", "m\n")
    repo.write("new.py", "def n():\n    pass\n")
    wrapper, log = git_wrapper(tmp_path)
    report = changed_json(pindrel, repo, env={"PINDREL_GIT": str(wrapper)})
    assert len(report["changed_symbols"]) == 4
    mb = merge_base(repo)
    q = "-c core.quotePath=false"
    assert log.read_text().splitlines() == [
        f"{q} rev-parse --show-toplevel",
        f"{q} rev-parse --verify --quiet origin/main^{{commit}}",
        f"{q} rev-parse --verify --quiet main^{{commit}}",
        f"{q} merge-base HEAD main",
        f"{q} ls-files --others --exclude-standard -z",
        f"{q} diff -U0 --no-color --no-ext-diff --no-textconv -M --src-prefix=a/ --dst-prefix=b/ {mb} --",
        f"{q} show {mb}:a.py",
        f"{q} show {mb}:gone.py",
    ]


# ---- the repository is left as it was ---------------------------------------------------


@pytest.mark.parametrize("inherited_settings", [False, True])
def test_the_index_is_left_alone_when_its_stat_data_is_stale(pindrel, repo, tmp_path, inherited_settings):
    repo.write("pkg/a.py", "def f():\n    return 1\n")
    repo.write("pkg/b.py", "def g():\n    return 2\n")
    repo.commit()
    repo.write("pkg/b.py", "def g():\n    return 3\n")
    repo.write("pkg/skipped.py", "def h():\n    return 4\n")
    index = repo.path / ".git" / "index"
    # a.py keeps its content but not the stat data the index holds for it: git diff would refresh it.
    later = index.stat().st_mtime_ns + 5_000_000_000
    os.utime(repo.path / "pkg" / "a.py", ns=(later, later))
    before = (index.read_bytes(), index.stat().st_mtime_ns)
    env = None
    if inherited_settings:
        # Settings the caller passes to git through the environment still hold.
        excludes = tmp_path / "excludes"
        excludes.write_text("skipped.py\n")
        env = {"GIT_CONFIG_COUNT": "1", "GIT_CONFIG_KEY_0": "core.excludesFile", "GIT_CONFIG_VALUE_0": str(excludes)}
    r = pindrel("changed-symbols", cwd=repo.path, env=env)
    assert (r.status, r.err) == (0, ""), r
    assert "pkg.b:g" in r.out
    assert ("pkg.skipped:h" in r.out) != inherited_settings
    assert (index.read_bytes(), index.stat().st_mtime_ns) == before
    assert not (repo.path / ".git" / "index.lock").exists()


# ---- writing the report ---------------------------------------------------------------


def test_a_reader_that_closes_the_pipe(pindrel, repo):
    repo.write("mod.py", "x = 1\n")
    repo.commit()
    functions = "".join(f"def function_number_{i:05d}():\n    pass\n\n\n" for i in range(3000))
    repo.write("big.py", functions)
    proc = subprocess.Popen(
        [str(pindrel.binary), "changed-symbols"],
        cwd=repo.path,
        env=pindrel.env,
        stdin=subprocess.DEVNULL,
        stdout=subprocess.PIPE,
        stderr=subprocess.PIPE,
    )
    assert proc.stdout.read(16).startswith(b"base main")
    proc.stdout.close()
    err = proc.stderr.read()
    assert proc.wait(timeout=120) == 2
    assert err == b"pindrel: Broken pipe (os error 32)\n"
