#!/bin/sh
# demo.sh -- runs a plug-in in the receiver simulator and shows what happened.
#
#   tools/demo.sh [builddir]      (default build/host; `make demo` builds it first)
#
# Prepares a receiver root in <builddir>/demo with a simulated network share
# that appears two seconds into the run, runs the plug-in in the simulator on
# a virtual clock, then shows the plug-in's report and the receiver's disk.
set -eu

build=${1:-build/host}
receiver=$build/bin/receiver
tap=$build/tap/TickWaiter.tap
for f in "$receiver" "$tap"; do
  if [ ! -e "$f" ]; then
    echo "demo.sh: $f is missing; build first (make host)" >&2
    exit 1
  fi
done

demo=$build/demo
rm -rf "$demo"
mkdir -p "$demo/root/mnt/hd/ProgramFiles" "$demo/root/mnt/hd/DataFiles/NAS-Share" "$demo/nas"
echo 500 > "$demo/root/mnt/hd/ProgramFiles/TickWaiter.cfg"   # ticks of 10 ms: 5 s

echo "== Running the plug-in in the receiver simulator"
"$receiver" --root "$demo/root" \
  --mount "/mnt/hd/DataFiles/NAS-Share=$demo/nas@2" \
  --date 2015-12-20 --time 21:05:09 \
  --key Ok@1 \
  "$tap"

echo
echo "== The plug-in's report (/mnt/hd/ProgramFiles/TickWaiter.log)"
cat "$demo/root/mnt/hd/ProgramFiles/TickWaiter.log"
echo
echo "== The receiver's disk after the run ($demo/root)"
(cd "$demo/root" && find . | sort)
