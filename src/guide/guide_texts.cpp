#include "guide/guide_texts.hpp"

namespace pindrel {
namespace {

constexpr std::string_view setup_text = R"md(# Setup pindrel in this repository

pindrel is not wired into this repository yet. Run every step below from the
repository root, in order.

**1. Install.** pindrel resolves references through `qlo` (from quillo), which
drives ty's language server. The first real run starts quillo's background
daemon; later runs reuse it.

```bash
uv add --dev pindrel quillo pytest
```

**2. Check the wiring.** `pindrel doctor` prints the workspace and the `qlo`
it found, and exits `2` if either is missing. Nothing is analysed.

**3. Wire it into the commit hook.** Add it as a tolvane step in
`pyproject.toml`:

```toml
[tool.tolvane]
extend_check = [
  { name = "pindrel", cmd = "pindrel run -- -q", pass_files = false, timeout_s = 120 },
]
```

`pass_files = false` because pindrel takes no file list: it diffs the working
tree against `origin/main` (then `main`, then `master`), not the index, so
unstaged edits and untracked files count in a hook too. `--base <REF>`
overrides the ref. Everything after `--` goes to pytest verbatim.

**4. Name the pytest**, only if plain `pytest` on PATH is not the one to use:

```toml
[tool.pindrel]
pytest-command = ["uv", "run", "pytest"]
```

**5. Verify with a real diff.** With no diff at all, `pindrel run` selects
nothing, spawns nothing and exits `0`: that proves only that it ran. Push so
that `origin/main` matches your branch, change one symbol that a test reaches,
then run:

```bash
pindrel impacted-tests
```

Expect `verdict selected` and the test, with its arrow chain back to the
symbol you changed. `pindrel run --dry-run` shows the pytest argv that would
follow. A `run_all` on this first try is what `pindrel guide triage` is for.

**6. Exit codes.** `run` returns pytest's own code once pytest starts, `0` for
an empty selection, and `2` when pindrel could not run. `impacted-tests` and
`changed-symbols` never return `1`: they are inventories, not verdicts.
`audit` is the one command that returns `1` for findings.

next: run `pindrel impacted-tests`
)md";

constexpr std::string_view triage_text = R"md(# Triage a pindrel report

`pindrel run` printed one line on standard error before handing over to
pytest, or `pindrel impacted-tests` printed a report. Read the verdict before
the list.

**Three outcomes.**

- `selected`: the walk completed, and the listed tests are the whole answer.
  Each entry carries an arrow chain from the test back to the changed symbol;
  read it right to left to follow the change out to the test. A surprise in
  the list is a real reference edge, not a guess. An `impacted conftests`
  entry is not a test: `run` expands it to every test file in its subtree.
- `run_all`: the impact could not be bounded, so the full suite runs, or the
  `fallback-command` when one is set. The reason line says why; work the
  ladder below. `impacted-tests` still exits `0`, since "run everything" is an
  answer.
- nothing: `selected` with an empty list. `run` spawns nothing and exits `0`,
  which looks exactly like a green suite.

**The `run_all` ladder.** Take the first reason that matches.

1. `non-Python files changed`: files that no test reads, such as docs, belong
   in `ignore-paths`; otherwise accept the full run, or set
   `fallback-command`.
2. `a changed file did not parse`: fix the syntax error and rerun.
3. `qlo is not available`: `uv add --dev quillo`, then `pindrel doctor`.
4. `qlo failed during the walk` or `the working tree could not be read`:
   `pindrel -v impacted-tests` prints the error in its `errors` section. It is
   usually the daemon (`qlo daemon status`, `qlo daemon stop`) or a
   permissions problem.
5. `the depth limit was reached`, `the symbol limit was reached` or
   `the time budget ran out`: the change touches a hub symbol. Raise the
   budget for one run, as with `pindrel impacted-tests --max-depth 20` (or
   `--max-symbols`, `--budget-ms`), and read what it finds; make it policy
   only through `pindrel guide tune`.
6. `a changed symbol is dispatched by an unresolvable decorator`: add the
   decorator to `ignore-decorators` only if the tests reach the symbol some
   other way.
7. `the full suite is faster than a selection`: `suite-ms` in `pyproject.toml`
   says so, and `run` took it at its word. Remove the key if the suite grew.

**JSON.** `--format json` prints one object with `verdict`, `reason` (`null`
when selected), `base`, `merge_base`, `impacted_tests` (objects of `file`,
`symbol`, `via`, `origin` and `kind`; `symbol` is null for a whole file),
`test_files_changed`, `ignored_symbols`, `ignored_paths`, `stats` and
`errors`.

**Replay.** Save one walk and map it more than once:

```bash
pindrel impacted-tests --format json > impact.json
pindrel run --impact impact.json -- -q
```

The saved report is parsed strictly, and a stale one selects the wrong tests:
regenerate it after every diff. `pindrel run --dry-run` prints the decision
and the exact argv without spawning anything, and says when per-test node ids
were folded into a file selected wholesale.

**Do not:** bypass the hook or drop the step to get past a `run_all`, since
the full suite is the safe answer; and do not raise a budget in
`pyproject.toml` for the sake of one commit.

next: run `pindrel run -- -q`
)md";

constexpr std::string_view tune_text = R"md(# Tune pindrel

Reference for the knobs. The defaults are conservative; tune for speed only
once the same `run_all` reason keeps coming back.

**Where the diff comes from.** `--base <REF>` names the ref, by default
`origin/main`, then `main`, then `master`. The working tree (staged, unstaged
and untracked files) is diffed from the merge-base with that ref.
`--workspace <PATH>` names the project root instead of walking up to it.

**Budgets.** The walk says `run_all` at the first limit it hits. A flag beats
`[tool.pindrel]` in `pyproject.toml`, which beats the default.

| Flag | Key | Default | Meaning |
|---|---|---|---|
| `--max-depth <N>` | `max-depth` | 10 | levels from a changed symbol out to a test |
| `--max-symbols <N>` | `max-symbols` | 500 | symbols visited before giving up |
| `--budget-ms <MS>` | `budget-ms` | 30000 | wall clock for the walk; `0` disables it |

```toml
[tool.pindrel]
max-depth = 20
suite-ms = 800
ignore-decorators = ["transformation", "celery.task"]
ignore-paths = ["**/*.md", "docs/**"]
pytest-command = ["uv", "run", "pytest", "-o", "addopts="]
fallback-command = ["scripts/pick-subprojects.sh", "--from-pindrel"]
```

- `suite-ms`: the whole suite's duration, from pytest's summary line. A
  selection costs 1.5-2 s of `qlo` round-trips, so a suite declared at
  2000 ms or under makes `run` skip the walk and say `run_all` (`fast_suite`)
  whenever the diff would have needed one. `impacted-tests` ignores it.
- `ignore-decorators`: dotted names of decorators that register a function
  with a runner, matched syntactically as a suffix (`task` matches
  `celery.task`). A changed symbol carrying one is reported as ignored, and
  the walk stops at any definition that carries one. Import aliases are not
  resolved.
- `ignore-paths`: non-Python files that never force `run_all`, matched on the
  repository-relative path with `*`, `?` and `**`, and listed as
  `ignored_paths`. A `.py` file never is.
- `pytest-command`: an argv, never a string. Empty means `pytest` on `PATH`;
  `PINDREL_PYTEST` beats both. `-o addopts=` drops a coverage-carrying
  `addopts` for the hook run only.
- `fallback-command`: what `run` execs instead of the whole suite on
  `run_all`. It gets the reason in `PINDREL_FALLBACK_REASON` and the
  `changed-symbols` report as JSON on standard input, and its exit code is
  the hook's. `--fallback-command <JSON_ARRAY>` and `PINDREL_FALLBACK`
  override it, in that order. An empty array anywhere is an error at startup.
- `git-env`: `isolate`, the default, removes `GIT_DIR`, `GIT_INDEX_FILE` and
  the rest of what a hook exports from pytest's environment; `inherit` keeps
  them. `--git-env <POLICY>` beats it. The fallback inherits.

**Binaries.** `PINDREL_QLO`, `PINDREL_GIT` and `PINDREL_PYTEST` each name one
executable, taken as one word, and skip the `PATH` lookup.

**Audit.** `pindrel audit src/app.py` reads the same graph backwards for the
files named: symbols nothing references, and symbols only tests reach. Exit
`1` on findings.

next: run `pindrel run --dry-run`
)md";

}  // namespace

std::string_view guide_topic_text(GuideTopic topic) {
  switch (topic) {
    case GuideTopic::setup: return setup_text;
    case GuideTopic::triage: return triage_text;
    case GuideTopic::tune: return tune_text;
  }
  return setup_text;
}

}  // namespace pindrel
