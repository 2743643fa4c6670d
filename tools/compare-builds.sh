#!/usr/bin/env bash
# Compares two builds of tarvel1 byte for byte: BASE (a commit; by default
# origin/main where there is one, otherwise HEAD) and the working tree as it
# is, uncommitted changes included.
#
#   tools/compare-builds.sh [BASE]
#
# Both are built (Release, the tarvel1 target alone, through ccache when it
# is installed) and run on the same generated cases (tools/compare-cases.py:
# every reading path of control.dat, the data file and the console, every
# switch, orders 0 to 8, every way a run ends, the options, 1 and 3
# threads). Every difference in standard output, standard error, exit status
# and the files a run leaves (names and bytes) is printed, then one line
# "N cases, K differ". Exit status: 0 when nothing differs, 1 when a case
# differs, 2 when a build or the set-up fails.
#
# SEED (default 22) picks the random cases and COUNT (default 330) the
# number of cases, the hand-written ones included; the same seed always
# gives the same cases. Nothing in a run depends on the time, the directory
# or the machine's load, so a build compared with itself shows 0 differ.
#
# Run it before any change that touches the program's reading, writing or
# arithmetic lands.
set -euo pipefail

root=$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)
seed=${SEED:-22}
count=${COUNT:-330}
python=/usr/bin/python3
[ -x "$python" ] || python=python3

fail() { echo "compare-builds: $*" >&2; exit 2; }

# The commit to compare against.
if [ $# -gt 1 ]; then fail "usage: tools/compare-builds.sh [BASE]"; fi
if [ $# -eq 1 ]; then
  base=$1
elif git -C "$root" rev-parse --verify -q origin/main >/dev/null; then
  base=origin/main
else
  base=HEAD
fi
commit=$(git -C "$root" rev-parse --verify -q "$base^{commit}") || fail "'$base' is not a commit"

# Everything happens in one temporary directory, removed at the end.
tmp=$(mktemp -d "${TMPDIR:-/tmp}/compare-builds.XXXXXX")
trap 'rm -rf "$tmp"' EXIT
trap 'exit 130' INT TERM
start=$SECONDS

# Builds the source tree in $tmp/src into $tmp/bin/NAME. Both trees are unpacked in turn
# at the same place, $tmp/src, so that the two programs differ only by their
# sources (--help names the README by its path). With ccache's base
# directory there, the compile commands are those of an ordinary build in a
# checkout, and the cache serves both builds and everyone's builds.
launcher=${CMAKE_CXX_COMPILER_LAUNCHER-$(command -v ccache || true)}
build() {
  local name=$1 label=$2 log="$tmp/$1-build.log"
  echo "compare-builds: building $label" >&2
  (
    export CCACHE_BASEDIR="$tmp/src"
    cmake -S "$tmp/src" -B "$tmp/src/build" -DCMAKE_BUILD_TYPE=Release -DTARVEL_TESTS=OFF \
      ${launcher:+-DCMAKE_CXX_COMPILER_LAUNCHER="$launcher"} &&
      cmake --build "$tmp/src/build" -j2 --target tarvel1
  ) >"$log" 2>&1 || { tail -n 30 "$log" >&2; fail "the build of $label failed (log above)"; }
  mkdir -p "$tmp/bin"
  cp "$tmp/src/build/tarvel1" "$tmp/bin/$name"
  rm -rf "$tmp/src"
}

# BASE: the commit's files, as git archive gives them.
mkdir -p "$tmp/src"
git -C "$root" archive "$commit" | tar -x -C "$tmp/src"
build base "BASE ${commit:0:12}"

# The working tree: every file that git tracks or would track (ignored files
# such as build directories left out; deleted files skipped).
mkdir -p "$tmp/src"
(
  cd "$root"
  git ls-files -z --cached --others --exclude-standard |
    while IFS= read -r -d '' f; do [ -e "$f" ] && printf '%s\0' "$f"; done |
    tar --null -T - -c
) | tar -x -C "$tmp/src"
build work "the working tree"

# The cases, written afresh from the seed.
written=$("$python" "$root/tools/compare-cases.py" "$tmp/cases" --seed "$seed" --count "$count") ||
  fail "the cases could not be written"
echo "compare-builds: running $written cases, seed $seed ($((SECONDS - start)) s so far)" >&2

# Runs one side of a case in $tmp/run/SIDE/NNN: a copy of the case's files
# as the working directory (files/), the console input from the case's
# file, its arguments and TARVEL_THREADS, nothing else from the environment,
# a timeout, and 1 GB of address space (a run needs a few MB; a case that
# asks for more memory than that must fail alike on any machine). Standard
# output, standard error and the exit status land beside files/.
run_side() {
  local side=$1 case=$2 out="$tmp/run/$1/${2##*/}" status=0
  local -a args
  mkdir -p "$out"
  cp -a "$case/files" "$out/files"
  mapfile -t args <"$case/args"
  (ulimit -v 1000000 && cd "$out/files" && env -i TARVEL_THREADS="$(<"$case/threads")" \
    timeout 60 "$tmp/bin/$side" ${args[@]+"${args[@]}"} <"$case/stdin" >"$out/stdout" 2>"$out/stderr") || status=$?
  echo "$status" >"$out/status"
}

# diff -u of two files as readable text (cat -v: CR as ^M, other control
# characters as ^X), labelled with the sides.
show_diff() {
  local what=$1 a=$2 b=$3
  echo "--- $what (control characters shown as ^M, ^Z, ...):"
  diff -u --label "base/$what" --label "work/$what" <(cat -v "$a") <(cat -v "$b") || true
}

# Every file and directory a run leaves, with its type, one a line.
listing() { (cd "$1" && find . -mindepth 1 -printf '%y %P\n' | LC_ALL=C sort); }

# Compares the two sides of one case; when anything differs, prints what
# and returns 1.
compare_case() {
  local case=$1 n=${1##*/}
  local a="$tmp/run/base/$n" b="$tmp/run/work/$n" entry name args
  diff -r -q "$a" "$b" >/dev/null 2>&1 && return 0
  echo "=== case $n: $(<"$case/about")"
  args=$(tr '\n' ' ' <"$case/args")
  echo "    TARVEL_THREADS=$(<"$case/threads")${args:+, arguments: $args}"
  if ! cmp -s "$a/status" "$b/status"; then
    echo "--- exit status: base $(<"$a/status"), work $(<"$b/status")"
    grep -qx 124 "$a/status" "$b/status" && echo "    (124: the run was stopped after 60 s)"
  fi
  cmp -s "$a/stdout" "$b/stdout" || show_diff "standard output" "$a/stdout" "$b/stdout"
  cmp -s "$a/stderr" "$b/stderr" || show_diff "standard error" "$a/stderr" "$b/stderr"
  if [ "$(listing "$a/files")" != "$(listing "$b/files")" ]; then
    echo "--- the names left in the run's directory (f: file, d: directory):"
    diff -u --label base --label work <(listing "$a/files") <(listing "$b/files") || true
  fi
  # Each file that differs; a file that one side alone left is shown whole.
  while IFS= read -r entry; do
    [ "${entry:0:2}" = "f " ] || continue
    name=${entry:2}
    if [ ! -f "$a/files/$name" ]; then
      show_diff "file $name" /dev/null "$b/files/$name"
    elif [ ! -f "$b/files/$name" ]; then
      show_diff "file $name" "$a/files/$name" /dev/null
    elif ! cmp -s "$a/files/$name" "$b/files/$name"; then
      show_diff "file $name" "$a/files/$name" "$b/files/$name"
    fi
  done < <(sort -u <(listing "$a/files") <(listing "$b/files"))
  return 1
}

# The two sides of each case run side by side, one core each.
cases=0 differ=0
for case in "$tmp"/cases/*/; do
  case=${case%/}
  run_side base "$case" &
  run_side work "$case" &
  wait
  cases=$((cases + 1))
  compare_case "$case" || differ=$((differ + 1))
done

echo "$cases cases, $differ differ"
echo "compare-builds: $((SECONDS - start)) s" >&2
[ "$differ" -eq 0 ]
