#!/bin/bash
# plugin-instructions.sh -- x86 instructions of plug-in code per event, counted
# by callgrind, so that the figures hold on a busy machine.
#
#   bench/plugin-instructions.sh BUILD_DIR [COUNT]
#
# The setup menu (FerroxSetup.tap): per cursor move (Down), per page key
# (PageDown) and per value change (Right on the speed): a run with COUNT
# such keys (default 20) against the same run without them. The copy
# service (Ferrox.tap): per idle event while it waits for a share that is
# not there, and while it copies a recording, from two runs that end at
# different moments of the same state; and the slices of its work list of
# 1,000 recordings, one per idle event. Only code of the plug-in files is
# counted, not the simulator's drawing or file calls. Figures only; skips
# with a line where valgrind is not installed.
set -euo pipefail

build=${1:?usage: bench/plugin-instructions.sh BUILD_DIR [COUNT]}
count=${2:-20}
receiver=$build/bin/receiver
for f in "$receiver" "$build/tap/FerroxSetup.tap" "$build/tap/Ferrox.tap"; do
  [ -e "$f" ] || { echo "plugin-instructions.sh: $f is missing" >&2; exit 2; }
done
if ! command -v valgrind >/dev/null; then
  echo "Plug-in instructions per event: skipped (valgrind is not installed)"
  exit 0
fi

work=$(mktemp -d /tmp/ferrox-instructions.XXXXXX)
trap 'rm -rf "$work"' EXIT

# Self cost of the plug-in files in a callgrind output: the simulator loads
# each from a private copy named "tap-*". Calls into other objects (the
# firmware, the C library) are not theirs.
plugin_cost() {
  awk '
    function obj(s,   id, rest) {
      if (match(s, /^\([0-9]+\)/)) {
        id = substr(s, RSTART, RLENGTH); rest = substr(s, RLENGTH + 2)
        if (rest != "") name[id] = rest
        return id
      }
      name[s] = s; return s
    }
    /^ob=/ { s = $0; sub(/^ob=/, "", s); cur = obj(s); next }
    /^cob=/ { s = $0; sub(/^cob=/, "", s); obj(s); next }
    /^calls=/ { skip = 1; next }
    /^[0-9+*-]/ { if (skip) { skip = 0; next } cost[cur] += $NF; next }
    END { for (k in cost) if (name[k] ~ /\/tap-[^\/]*$/) total += cost[k]; printf "%.0f\n", total }
  ' "$1"
}

# run NAME ROOT RECEIVER-ARGS...: the plug-in instructions of one run
run() {
  local name=$1
  shift
  valgrind --tool=callgrind --log-file="$work/$name.valgrind" --callgrind-out-file="$work/$name.out" "$receiver" "$@" \
    >"$work/$name.log" 2>&1 || { echo "plugin-instructions.sh: run $name failed:" >&2; tail -n 5 "$work/$name.log" >&2; exit 1; }
  plugin_cost "$work/$name.out"
}

# per NAME BASE WITH N: the difference per event, in thousands
per() {
  awk -v name="$1" -v a="$2" -v b="$3" -v n="$4" \
    'BEGIN { printf "  %-44s %9.1f thousand\n", name, (b - a) / n / 1000 }'
}

# keys KEY: a keys file with COUNT presses of KEY from 1 s, then Exit
keys() {
  {
    for ((i = 1; i <= count; i++)); do
      [ -n "$1" ] && awk -v i="$i" -v k="$1" 'BEGIN { printf "%.2f %s\n", 1 + i * 0.05, k }'
    done
    echo "3.0 Exit"
  } >"$work/$2.keys"
}

setup_run() {
  rm -rf "$work/root"
  run "$1" --root "$work/root" --quiet --console none --keys-file "$work/$1.keys" --tap "$build/tap/FerroxSetup.tap"
}

echo "Plug-in instructions per event (callgrind, x86, $build)"
echo " the setup menu, $count keys against none:"
keys "" none
keys Down down
keys PageDown page
keys Right right
base=$(setup_run none)
per "per cursor move (Down)" "$base" "$(setup_run down)" "$count"
per "per page key (PageDown)" "$base" "$(setup_run page)" "$count"
per "per value change (Right on the speed)" "$base" "$(setup_run right)" "$count"

# The copy service on a receiver root of its own: settings that copy one
# recording onto a share mounted at /mnt/hd/DataFiles/NAS-Share.
service_root() {
  local root=$work/root
  rm -rf "$root" "$work/share"
  mkdir -p "$root/mnt/hd/ProgramFiles/Settings/Ferrox" "$root/mnt/hd/DataFiles/MoveToNAS" "$work/share"
  printf '%s\r\n' "CopySpeed=2" "MountType=0" "MoveDir=/mnt/hd/DataFiles/MoveToNAS" \
    "DestDir=/mnt/hd/DataFiles/NAS-Share" "Move=0" "NASBootTime=300" "SpecChar=1" "DelDEC=1" \
    "MountedDirSource=0" "MountedDirDest=1" "StopMountTAP=0" "SetTSLink=0" "LogLenth=0" \
    "CopyAllFiles=0" "ShowResult=0" >"$root/mnt/hd/ProgramFiles/Settings/Ferrox/Ferrox.ini"
  head -c 600000000 /dev/zero >"$root/mnt/hd/DataFiles/MoveToNAS/Spielfilm.rec"
  head -c 376 /dev/zero >"$root/mnt/hd/DataFiles/MoveToNAS/Spielfilm.rec.inf"
}

service_run() {
  local name=$1 seconds=$2
  shift 2
  service_root
  run "$name" --root "$work/root" --console none --until time --seconds "$seconds" "$@" \
    --tap "$build/tap/Ferrox.tap"
}

# the events the copy service was given in a run, as the receiver counts them
events() { sed -n 's/.*Ferrox.tap: \([0-9]*\) event handler calls.*/\1/p' "$work/$1.log"; }

echo " the copy service, per idle event:"
a=$(service_run wait20 20)
b=$(service_run wait40 40)
per "while it waits for the share (20 s to 40 s)" "$a" "$b" $(($(events wait40) - $(events wait20)))
mount=(--mount "/mnt/hd/DataFiles/NAS-Share=$work/share")
a=$(service_run copy15 15 "${mount[@]}")
b=$(service_run copy20 20 "${mount[@]}")
copied=$(stat -c %s "$work/share/Spielfilm.rec" 2>/dev/null || echo 0)
per "while it copies (15 s to 20 s)" "$a" "$b" $(($(events copy20) - $(events copy15)))
if [ "$copied" -ge 600000000 ] || [ "$copied" -eq 0 ]; then
  echo "  (the copy was not under way at 20 s: $copied bytes on the share; the figure is not one of copying)"
fi

# The work list of 1,000 recordings, built a slice per idle event: callgrind
# cuts the run's profile before and after every slice, so each slice's
# instructions are counted alone (the last one sorts the list).
list_root() {
  local root=$work/root dir
  rm -rf "$root" "$work/share"
  mkdir -p "$root/mnt/hd/ProgramFiles/Settings/Ferrox" "$work/share"
  for dir in "" Serie Filme "Serie/Staffel 2"; do mkdir -p "$root/mnt/hd/DataFiles/MoveToNAS/$dir"; done
  local folders=("" Serie Filme "Serie/Staffel 2")
  for ((i = 0; i < 1000; i++)); do
    dir=$root/mnt/hd/DataFiles/MoveToNAS/${folders[i % 4]}
    head -c 512 /dev/zero >"$dir/Aufnahme $i.rec"
    # stamps in no order: the sort has work to do
    touch -d "@$((1400000000 + (i * 7919) % 100000 * 60))" "$dir/Aufnahme $i.rec"
  done
  printf '%s\r\n' "MoveDir=/mnt/hd/DataFiles/MoveToNAS" "DestDir=/mnt/hd/DataFiles/NAS-Share" "MountedDirDest=1" \
    "Move=0" "MountType=2" "CopySpeed=4" "NASBootTime=1" "ShowResult=0" \
    >"$root/mnt/hd/ProgramFiles/Settings/Ferrox/Ferrox.ini"
}
list_root
step='BuildFileListStep(unsigned int)'
valgrind --tool=callgrind --log-file="$work/list.valgrind" --callgrind-out-file="$work/list.out" --dump-before="$step" --dump-after="$step" \
  "$receiver" --root "$work/root" --console none --until time --seconds 13 \
  --mount "/mnt/hd/DataFiles/NAS-Share=$work/share" --tap "$build/tap/Ferrox.tap" >"$work/list.log" 2>&1 ||
  { echo "plugin-instructions.sh: the listing run failed" >&2; exit 1; }
# parts 2, 4, 6, ... are the slices
slices=()
for ((k = 2; ; k += 2)); do
  [ -e "$work/list.out.$k" ] || break
  slices+=("$(plugin_cost "$work/list.out.$k")")
done
if [ ${#slices[@]} -eq 0 ]; then
  echo "  the work list of 1,000 recordings: no slice was seen (the run did not list)"
else
  printf '%s\n' "${slices[@]}" | sort -n | awk '
    { v[NR] = $1; sum += $1 }
    END { printf "  %-44s %9.1f thousand (%d slices; median %.1f, in all %.1f)\n",
          "the work list of 1,000 recordings, per slice", v[NR] / 1000, NR, v[int((NR + 1) / 2)] / 1000, sum / 1000 }'
fi
