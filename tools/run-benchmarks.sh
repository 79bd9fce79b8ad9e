#!/bin/sh
# run-benchmarks.sh -- runs the benchmarks of a build and prints their figures.
#
#   tools/run-benchmarks.sh BUILD_DIR
#
# The copy benchmark works in FERROX_BENCH_DIR (default BUILD_DIR/bench-work),
# so that it measures a real disk rather than a RAM-backed temporary folder;
# FERROX_BENCH_MIB sets the source size (default 1024). Figures only: the
# script fails only when a benchmark cannot run at all. bench_osd prints what
# drawing on the screen costs, bench_worklist the longest event of a run that
# lists 1,000 recordings, bench/plugin-instructions.sh the instructions of
# plug-in code per key of the setup menu and per idle event of the copy
# service (callgrind), bench_moves what the syncs that keep a
# recording through a power cut cost a move run, bench_web the web view under a crowd of
# clients (FERROX_BENCH_WEB_SECONDS, default 60), bench/smb-share.sh a run of
# Ferrox.tap onto a private Samba share against cp and rsync --inplace
# (FERROX_BENCH_SMB_MIB, default 256; FERROX_BENCH_SMB_ROUNDS, default 7).
set -e

build=${1:?usage: tools/run-benchmarks.sh BUILD_DIR}
bench="$build/bin/bench_copy"
if [ ! -x "$bench" ]; then
  echo "run-benchmarks.sh: $bench not built" >&2
  exit 2
fi
dir=${FERROX_BENCH_DIR:-$build/bench-work}
mkdir -p "$dir"
"$bench" --dir "$dir" --size-mib "${FERROX_BENCH_MIB:-1024}"
echo
"$build/bin/bench_moves" --dir "$dir/moves"
echo
"$build/bin/bench_osd"
echo
"$build/bin/bench_worklist" --dir "$dir/worklist"
echo
bench/plugin-instructions.sh "$build"
if [ -x "$build/bin/bench_web" ]; then
  echo
  "$build/bin/bench_web" --seconds "${FERROX_BENCH_WEB_SECONDS:-60}" --dir "$dir/web"
fi
# onto a NAS that speaks SMB (a private Samba server, as root)
echo
bench/smb-share.sh "$build" "${FERROX_BENCH_SMB_MIB:-256}" "${FERROX_BENCH_SMB_ROUNDS:-7}"
