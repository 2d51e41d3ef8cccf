#!/usr/bin/env bash
# Mutation run over the writer link, the device operations and the serial-number stamp: applies
# small faults to the code one at a time (a comparison turned, a bound or an offset moved by one,
# a check dropped or forced, && for ||, + for -, true for false), builds the core tests, runs the
# fast ones and lists the mutants no test catches. A mutant of the link meets the link's own tests
# first (link_tests, a small build); only what they miss is built into the core tests. A survivor
# is killed with a test, or entered in scripts/mutation-equivalent.txt with the reason it cannot
# be caught.
#
#   scripts/mutation.sh [FILE...]       (default: src/link, src/operations, serial_number.cpp)
#
# KVR_MUTATION_BUILD: the build directory (default build-mutation, unoptimised and without debug
# information or sanitizers: a mutant builds fastest there; the standard library checks its
# bounds); KVR_MUTATION_FILTER: a gtest filter
# of the tests run (default all of core_tests, the fault soak with 300 runs); KVR_MUTATION_LIST=1 only lists the
# mutants; KVR_MUTATION_RERUN=REPORT runs only the survivors of an earlier report;
# KVR_MUTATION_SKIP=N starts after the first N mutants (to go on with a run cut short);
# KVR_MUTATION_SINCE=REPORT... takes the mutants earlier reports found killed as killed (matched by
# file, operator and both line texts, wherever the line now stands; by its number too where the
# same text stands more than once) and runs the others: after tests were added or lines moved,
# only what was not yet caught runs again. The report, a
# line per mutant, goes to BUILD/mutation-report.txt. Needs bash, awk, cmake and ninja; it does
# not run in CI (it takes hours).
set -euo pipefail

here="$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)"
build="${KVR_MUTATION_BUILD:-$here/build-mutation}"
filter="${KVR_MUTATION_FILTER:-*}"
equivalent="$here/scripts/mutation-equivalent.txt"
cd "$here"

if [ $# -gt 0 ]; then
  files=("$@")
else
  # The headers last: a mutant there rebuilds much of the core.
  files=(src/link/*.cpp src/operations/*.cpp src/image/serial_number.cpp src/link/*.h
         src/operations/*.h)
fi

work="$(mktemp -d)"
current=""
restore() {
  if [ -n "$current" ]; then cp "$work/pristine" "$current"; fi
  rm -rf "$work"
}
trap restore EXIT
trap 'exit 130' INT TERM

# Every mutant of a file, a line each: FILE, LINE, OPERATOR, the line as it is, the line mutated
# (tab-separated; the code holds no tabs). Comments, preprocessor lines, string literals and the
# message texts are left alone.
mutants() {
  awk -v file="$1" '
    function emit(op, text) { printf "%s\t%d\t%s\t%s\t%s\n", file, NR, op, $0, text }
    # Whether position `at` lies in a string or character literal.
    function inLiteral(s, at,   i, c, quote) {
      quote = ""
      for (i = 1; i < at; i++) {
        c = substr(s, i, 1)
        if (quote != "") {
          if (c == "\\") i++
          else if (c == quote) quote = ""
        } else if (c == "\"" || c == "\047") {
          quote = c
        }
      }
      return quote != ""
    }
    # Where code ends on the line: at a comment outside the literals.
    function codeEnd(s,   i) {
      for (i = 1; i < length(s); i++)
        if (substr(s, i, 2) == "//" && !inLiteral(s, i)) return i - 1
      return length(s)
    }
    # Each occurrence of `from` replaced by `to`, one mutant each.
    function swap(op, from, to,   rest, at, offset) {
      offset = 0
      rest = code
      while ((at = index(rest, from)) > 0) {
        if (!inLiteral(code, offset + at))
          emit(op, substr($0, 1, offset + at - 1) to substr($0, offset + at + length(from)))
        offset += at + length(from) - 1
        rest = substr(code, offset + 1)
      }
    }
    # The closing parenthesis that matches the one at `from`; 0 when it is not on this line.
    function closing(s, from,   i, depth, c) {
      depth = 0
      for (i = from; i <= length(s); i++) {
        c = substr(s, i, 1)
        if (c == "(") depth++
        else if (c == ")" && --depth == 0) return i
      }
      return 0
    }
    # The condition of an if, dropped (never taken) or forced (always taken).
    function conditions(   rest, at, offset, lparen, rparen, inner) {
      offset = 0
      rest = code
      while (match(rest, /(^|[^A-Za-z0-9_])if \(/) > 0) {
        lparen = offset + RSTART + RLENGTH - 1
        rparen = closing(code, lparen)
        if (rparen > 0 && !inLiteral(code, lparen)) {
          inner = substr($0, lparen + 1, rparen - lparen - 1)
          emit("NOCHECK", substr($0, 1, lparen) "false && (" inner ")" substr($0, rparen))
          emit("ALWAYS", substr($0, 1, lparen) "true || (" inner ")" substr($0, rparen))
        }
        offset = lparen
        rest = substr(code, offset + 1)
      }
    }
    # Integer literals one up and one down.
    function literals(   rest, at, offset, number, before, after) {
      offset = 0
      rest = code
      while (match(rest, /0[xX][0-9A-Fa-f]+|[0-9]+/) > 0) {
        at = offset + RSTART
        number = substr(rest, RSTART, RLENGTH)
        before = at > 1 ? substr(code, at - 1, 1) : " "
        after = substr(code, at + RLENGTH, 1)
        offset = at + RLENGTH - 1
        rest = substr(code, offset + 1)
        if (before ~ /[A-Za-z0-9_.\047]/ || after ~ /[A-Za-z0-9_.\047]/) continue
        if (inLiteral(code, at)) continue
        emit("PLUS1", substr($0, 1, at - 1) "(" number " + 1)" substr($0, at + RLENGTH))
        emit("MINUS1", substr($0, 1, at - 1) "(" number " - 1)" substr($0, at + RLENGTH))
      }
    }
    {
      line = $0
      sub(/^[ \t]+/, "", line)
      if (line ~ /^(\/\/|#|\*|\/\*)/ || line == "") next
      if (line ~ /Wording|static_assert/) next
      code = substr($0, 1, codeEnd($0))
      swap("EQ", " == ", " != ")
      swap("NE", " != ", " == ")
      swap("LT", " < ", " <= ")
      swap("LE", " <= ", " < ")
      swap("GT", " > ", " >= ")
      swap("GE", " >= ", " > ")
      swap("AND", " && ", " || ")
      swap("OR", " || ", " && ")
      swap("ADD", " + ", " - ")
      swap("SUB", " - ", " + ")
      swap("TRUE", "return true;", "return false;")
      swap("FALSE", "return false;", "return true;")
      conditions()
      literals()
    }' "$1"
}

trim() { sed -e 's/^[[:space:]]*//' -e 's/[[:space:]]*$//' <<<"$1"; }

# An entry names its file alone, or FILE:LINE when the same line text stands more than once.
is_equivalent() {  # FILE LINE ORIGINAL MUTATED -> prints the reason when listed
  [ -f "$equivalent" ] || return 1
  awk -F'\t' -v f="$1" -v at="$1:$2" -v o="$(trim "$3")" -v m="$(trim "$4")" \
    '($1 == f || $1 == at) && $2 == o && $3 == m { print $4; found = 1; exit }
     END { exit !found }' "$equivalent"
}

for f in "${files[@]}"; do mutants "$f"; done >"$work/mutants"
total=$(wc -l <"$work/mutants")
if [ "${KVR_MUTATION_LIST:-0}" = 1 ]; then
  cat "$work/mutants"
  echo "$total mutants" >&2
  exit 0
fi

if [ ! -f "$build/build.ninja" ]; then
  linker=()
  if command -v ld.lld >/dev/null; then linker=(-DCMAKE_EXE_LINKER_FLAGS=-fuse-ld=lld); fi
  # The library's own bounds checks turn a mutant that reads or writes past an array into a
  # failure, where memory past it would otherwise go unnoticed.
  cmake -S "$here" -B "$build" -G Ninja -DCMAKE_BUILD_TYPE=Debug \
    -DCMAKE_CXX_FLAGS_DEBUG="-O0 -D_GLIBCXX_ASSERTIONS" \
    "${linker[@]}" >/dev/null
fi
run_tests() {
  nice cmake --build "$build" --target core_tests >"$work/build.log" 2>&1 || return 2
  KVR_FAULT_SOAK_RUNS="${KVR_FAULT_SOAK_RUNS:-300}" timeout 120 nice "$build/tests/core_tests" \
    --gtest_filter="$filter" --gtest_brief=1 --gtest_fail_fast >"$work/test.log" 2>&1
}
echo "mutation: $total mutants in ${#files[@]} files; building and testing the code as it is"
if ! run_tests || ! nice cmake --build "$build" --target link_tests >"$work/build.log" 2>&1 ||
   ! "$build/tests/link_tests" --gtest_brief=1 >"$work/test.log" 2>&1; then
  echo "mutation: the tests fail without any mutant (see $work/test.log)" >&2
  cat "$work/build.log" "$work/test.log" >&2
  exit 1
fi

rerun="${KVR_MUTATION_RERUN:-}"
if [ -n "$rerun" ]; then
  sed -n 's/^SURVIVED    //p' "$rerun" >"$work/survivors"
  total=$(wc -l <"$work/survivors")
fi
# Killed earlier: "FILE:LINE OPERATOR: original => mutated", and the same without the line number
# for lines whose text stands once in their file.
: >"$work/caught"
for earlier in ${KVR_MUTATION_SINCE:-}; do
  # Only the kills those runs saw happen, not the ones they took from runs before them.
  sed -n -e '/  (in an earlier run)$/d' -e 's/^killed      //p' "$earlier" >>"$work/caught"
done
sed 's/^\([^:]*\):[0-9]* /\1 /' "$work/caught" >"$work/caught-anywhere"
caught_before() {  # FILE LINE OPERATOR ORIGINAL MUTATED
  [ -s "$work/caught" ] || return 1
  local texts="$3: $(trim "$4") => $(trim "$5")"
  if [ "$(grep -cxF -- "$4" "$1")" -gt 1 ]; then
    grep -qxF -- "$1:$2 $texts" "$work/caught"
  else
    grep -qxF -- "$1 $texts" "$work/caught-anywhere"
  fi
}
report="$build/mutation-report.txt"
: >"$report"
killed=0 survived=0 equivalents=0 stillborn=0 n=0 skip="${KVR_MUTATION_SKIP:-0}"
while IFS=$'\t' read -r file line op original mutated; do
  if [ "$skip" -gt 0 ]; then skip=$((skip - 1)); total=$((total - 1)); continue; fi
  where="$file:$line $op: $(trim "$original") => $(trim "$mutated")"
  if [ -n "$rerun" ] && ! grep -qxF -- "$where" "$work/survivors"; then continue; fi
  n=$((n + 1))
  if caught_before "$file" "$line" "$op" "$original" "$mutated"; then
    killed=$((killed + 1))
    printf 'killed      %s  (in an earlier run)\n' "$where" >>"$report"
    continue
  fi
  if reason="$(is_equivalent "$file" "$line" "$original" "$mutated")"; then
    equivalents=$((equivalents + 1))
    printf 'equivalent  %s  (%s)\n' "$where" "$reason" >>"$report"
    continue
  fi
  current="$file"
  cp "$file" "$work/pristine"
  printf '%s\n' "$mutated" >"$work/line"
  awk -v n="$line" -v with="$work/line" 'NR == n { getline r < with; print r; next } { print }' \
    "$work/pristine" >"$file"
  status=0
  if [ "${file#src/link/}" != "$file" ]; then
    # The link's own tests first: they build from a tenth of what the core tests need, and catch
    # most mutants of the link. What they miss goes on to the core tests.
    if ! nice cmake --build "$build" --target link_tests >"$work/build.log" 2>&1; then
      status=2
    elif ! timeout 120 nice "$build/tests/link_tests" --gtest_brief=1 --gtest_fail_fast \
        >"$work/test.log" 2>&1; then
      status=1
    else
      run_tests || status=$?
    fi
  else
    run_tests || status=$?
  fi
  cp "$work/pristine" "$file"
  current=""
  case $status in
    0) survived=$((survived + 1)); printf 'SURVIVED    %s\n' "$where" | tee -a "$report" ;;
    2) stillborn=$((stillborn + 1)); printf 'no build    %s\n' "$where" >>"$report" ;;
    *) killed=$((killed + 1)); printf 'killed      %s\n' "$where" >>"$report" ;;
  esac
  if [ $((n % 50)) -eq 0 ]; then
    echo "mutation: $n of $total: $killed killed, $survived survived, $equivalents equivalent," \
         "$stillborn did not build"
  fi
done <"$work/mutants"
# Leave the build as the code is.
nice cmake --build "$build" --target core_tests >/dev/null 2>&1 || true

echo
echo "mutation: $total mutants: $killed killed, $survived survived, $equivalents equivalent" \
     "(listed with their reasons in the report), $stillborn did not build"
echo "mutation: report in $report"
grep '^SURVIVED' "$report" || true
[ "$survived" -eq 0 ]
