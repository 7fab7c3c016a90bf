#!/usr/bin/env bash
# Times `pindrel changed-symbols` on a generated repository with a large change and, for
# comparison, the git commands it runs (the same argument vectors, one process each).
#   bench/changed_symbols_bench.sh [BUILD_DIR] [FILES] [RUNS]
set -euo pipefail
here=$(cd "$(dirname "$0")/.." && pwd)
pindrel="$here/${1:-build}/pindrel"
files=${2:-400}
runs=${3:-10}
[ -x "$pindrel" ] || { echo "no $pindrel" >&2; exit 2; }

work=$(mktemp -d /tmp/pindrel-bench.XXXXXX)
report=$(mktemp /tmp/pindrel-bench-report.XXXXXX)
trap 'rm -rf "$work" "$report"' EXIT
cd "$work"
export GIT_AUTHOR_NAME=bench GIT_AUTHOR_EMAIL=bench@example.com
export GIT_COMMITTER_NAME=bench GIT_COMMITTER_EMAIL=bench@example.com
git init -q -b main

# Each module: a class with methods and free functions, about 120 lines.
module() {  # $1: index, $2: the value the bodies return
  printf '"""Module %s."""\nimport os\n\n\n' "$1"
  printf 'class Service%s:\n    name = "s%s"\n\n' "$1" "$1"
  for m in 1 2 3 4 5 6; do
    printf '    def method_%s(self, value):\n        total = value + %s\n        return total * %s\n\n' "$m" "$m" "$2"
  done
  printf '\n'
  for f in $(seq 1 16); do
    printf 'def function_%s(a, b):\n    """Doc."""\n    result = a + b + %s\n    return result * %s\n\n\n' "$f" "$f" "$2"
  done
}
mkdir -p pkg tests
: > pkg/__init__.py
for i in $(seq 1 "$files"); do module "$i" 1 > "pkg/mod_$i.py"; done
for i in $(seq 1 20); do printf 'def test_%s():\n    assert True\n' "$i" > "tests/test_$i.py"; done
git add -A && git commit -q -m base

# The change: every module's bodies, one function renamed, one removed; some new files.
for i in $(seq 1 "$files"); do
  module "$i" 2 | sed -e 's/def function_3(/def function_three(/' -e '/^def function_16(/,$d' > "pkg/mod_$i.py"
done
for i in $(seq 1 20); do printf 'def test_%s():\n    assert 1\n' "$i" > "tests/test_$i.py"; done
for i in $(seq 1 20); do module "new_$i" 3 > "pkg/new_$i.py"; done
echo "changed" > README.md

mb=$(git merge-base HEAD main)
git_cmds() {
  local q=(-c core.quotePath=false)
  git "${q[@]}" rev-parse --show-toplevel
  git "${q[@]}" rev-parse --verify --quiet 'origin/main^{commit}' || true
  git "${q[@]}" rev-parse --verify --quiet 'main^{commit}'
  git "${q[@]}" merge-base HEAD main
  git "${q[@]}" ls-files --others --exclude-standard -z
  git "${q[@]}" diff -U0 --no-color --no-ext-diff --no-textconv -M --src-prefix=a/ --dst-prefix=b/ "$mb" --
  for i in $(seq 1 "$files"); do git "${q[@]}" show "$mb:pkg/mod_$i.py"; done
}

ms_per_run() {  # runs "$@" $runs times after one warm-up; prints the mean in milliseconds
  "$@" > /dev/null
  local start end
  start=$(date +%s%N)
  for _ in $(seq 1 "$runs"); do "$@" > /dev/null; done
  end=$(date +%s%N)
  echo $(( (end - start) / runs / 1000000 ))
}

"$pindrel" changed-symbols > "$report"
head -3 "$report"
echo "report: $("$pindrel" changed-symbols --format json | wc -c) bytes of JSON"
echo "repository: $files changed modules, 20 new modules, 20 changed test files, $runs runs each"
echo "pindrel changed-symbols: $(ms_per_run "$pindrel" changed-symbols) ms"
echo "the git commands alone:  $(ms_per_run git_cmds) ms"
