#!/bin/sh
# run-fuzzers.sh -- runs every libFuzzer target of a fuzz build for a while.
#   tools/run-fuzzers.sh <builddir> <seconds>
# Each executable in <builddir>/fuzz runs for <seconds> on its own corpus
# <builddir>/fuzz-corpus/<name>, seeded from tests/fuzz/corpus/<name> when
# that exists. A crash, leak, sanitizer report or time-out fails the run; the
# input that caused it is kept in <builddir>/fuzz-artifacts/. Exit 0 when
# every target ran clean.
set -u

if [ $# -ne 2 ]; then
  echo "usage: $0 <builddir> <seconds>" >&2
  exit 2
fi
build=$1
seconds=$2
case "$seconds" in
  ''|*[!0-9]*) echo "run-fuzzers.sh: seconds must be a whole number, not '$seconds'" >&2; exit 2 ;;
esac
here=$(cd "$(dirname "$0")/.." && pwd)
fuzzdir="$build/fuzz"
if [ ! -d "$fuzzdir" ]; then
  echo "run-fuzzers.sh: no fuzz targets in $fuzzdir (build the preset \"fuzz\" first)" >&2
  exit 2
fi

# UBSan findings must fail the run, not only print
export UBSAN_OPTIONS="halt_on_error=1:print_stacktrace=1${UBSAN_OPTIONS:+:$UBSAN_OPTIONS}"
export ASAN_OPTIONS="detect_leaks=1${ASAN_OPTIONS:+:$ASAN_OPTIONS}"

passed=0
failed=0
for target in "$fuzzdir"/*; do
  [ -f "$target" ] && [ -x "$target" ] || continue
  name=$(basename "$target")
  corpus="$build/fuzz-corpus/$name"
  artifacts="$build/fuzz-artifacts"
  mkdir -p "$corpus" "$artifacts"
  seeds=""
  [ -d "$here/tests/fuzz/corpus/$name" ] && seeds="$here/tests/fuzz/corpus/$name"
  log="$build/fuzz-artifacts/$name.log"
  echo "== $name: $seconds s"
  # shellcheck disable=SC2086 # $seeds is one folder or nothing
  "$target" -max_total_time="$seconds" -timeout=25 -rss_limit_mb=2048 -print_final_stats=1 \
    -artifact_prefix="$artifacts/$name-" "$corpus" $seeds >"$log" 2>&1
  rc=$?
  if [ $rc -eq 0 ]; then
    passed=$((passed + 1))
    grep -E "^stat::number_of_executed_units|^Done " "$log" | sed "s/^/   /"
  else
    failed=$((failed + 1))
    echo "   FAILED (exit $rc); last lines of $log:"
    tail -n 40 "$log" | sed "s/^/   /"
  fi
done

if [ $((passed + failed)) -eq 0 ]; then
  echo "run-fuzzers.sh: no fuzz target found in $fuzzdir" >&2
  exit 2
fi
echo "fuzz: $passed passed, $failed failed"
[ $failed -eq 0 ]
