#!/bin/bash
# demo.sh -- the copy service at work in the receiver simulator.
#
# Generates sample recordings in a fresh receiver root (build/demo), a
# network share that is mounted a few seconds into the run, settings that copy
# the source folder to it, a job file from another program that moves a
# recording off an external drive, and runs Ferrox.tap with status requests
# along the way; then shows the share, the job's result and the service log.
# Then the setup menu FerroxSetup.tap runs briefly with keys from a script
# (tools/demo-setup.keys), leaves a screenshot of every screen and saves the
# share as the destination; last, Ferrox.tap runs once more with exactly
# those settings on a new recording and shows its result on the TV.
#
#   tools/demo.sh             real clock: the pace of the copy is visible
#   tools/demo.sh --virtual   virtual clock: the same run in a moment
set -euo pipefail
cd "$(dirname "$0")/.."

clock=real
status_every=3
case "${1:-}" in
  --virtual) clock=virtual; status_every=5 ;;
  "") ;;
  *) echo "usage: tools/demo.sh [--virtual]" >&2; exit 2 ;;
esac

build=${BUILD_DIR:-build/host}
for f in "$build/bin/receiver" "$build/bin/make-sample-recordings" "$build/tap/Ferrox.tap" \
  "$build/tap/FerroxSetup.tap"; do
  [ -e "$f" ] || { echo "demo.sh: $f is missing; run 'make demo' (or 'make host') first" >&2; exit 1; }
done

work=build/demo
root=$work/receiver
share=$work/nas-share
rm -rf "$work"
. tools/sample-root.sh
sample_root "$build" "$root" "$share"

# A job file that another program dropped: move one recording from an
# external drive (mounted at /mnt/sdb1) into a folder of the internal disk.
# Job files are worked off before the normal run.
usb=$work/usb-drive
mkdir -p "$usb/Filme" "$root/mnt/hd/DataFiles/FromUSB" "$root/mnt/hd/ProgramFiles/Settings/Ferrox/JobFiles"
head -c 20000000 /dev/urandom > "$usb/Filme/Urlaub.rec"
head -c 376 /dev/zero > "$usb/Filme/Urlaub.rec.inf"   # byte 16 is 0: free-to-air
head -c 65536 /dev/urandom > "$usb/Filme/Urlaub.rec.nav"
printf '%s\r\n' "FileName=Urlaub.rec" "SDIR=/mnt/sdb1/Filme" "DDIR=/mnt/hd/DataFiles/FromUSB" "CoM=1" \
  > "$root/mnt/hd/ProgramFiles/Settings/Ferrox/JobFiles/FromUSB.frx"
echo
echo "== Job file dropped by another program (/ProgramFiles/Settings/Ferrox/JobFiles/FromUSB.frx)"
tr -d '\r' < "$root/mnt/hd/ProgramFiles/Settings/Ferrox/JobFiles/FromUSB.frx" | sed 's/^/  /'

# The service log stays as the receiver writes it: ISO 8859-1 texts, names
# in the disk's bytes. Shown as UTF-8 the way the simulator shows its console:
# well-formed UTF-8 kept, every other byte from 0x80 up taken as ISO 8859-1.
latin1_to_utf8() {
  perl -pe 's/([\xC2-\xDF][\x80-\xBF]|\xE0[\xA0-\xBF][\x80-\xBF]|[\xE1-\xEC\xEE\xEF][\x80-\xBF]{2}|\xED[\x80-\x9F][\x80-\xBF]|\xF0[\x90-\xBF][\x80-\xBF]{2}|[\xF1-\xF3][\x80-\xBF]{3}|\xF4[\x80-\x8F][\x80-\xBF]{2})|([\x80-\xFF])/defined $1 ? $1 : chr(0xC0 | ord($2) >> 6) . chr(0x80 | (ord($2) & 0x3F))/ge'
}

status=()
if "$build/bin/receiver" --status-every 5 --help >/dev/null 2>&1; then
  status=(--status-every "$status_every")
fi

echo
echo "== Running Ferrox.tap ($clock clock); the share appears after 4 s"
# The receiver's terminal speaks ISO 8859-1; the simulator shows it as UTF-8.
"$build/bin/receiver" --root "$root" --clock "$clock" --quiet --console - \
  --mount "/mnt/hd/DataFiles/NAS-Share=$share@4" --mount "/mnt/sdb1=$usb" "${status[@]}" \
  --tap "$build/tap/Ferrox.tap"

echo
echo "== The share ($share)"
(cd "$share" && find . -type f | sort | while read -r f; do
  printf '  %-40s %12s bytes\n' "${f#./}" "$(stat -c %s "$f")"
done)

echo
echo "== The job: external drive ($usb), /DataFiles/FromUSB and the job folder"
(cd "$work" && find usb-drive -type f | sort | sed 's/^/  /'; echo "  (drive: $(find usb-drive -type f | wc -l) files left)")
(cd "$root/mnt/hd/DataFiles" && find FromUSB -type f | sort | while read -r f; do
  printf '  %-40s %12s bytes\n' "$f" "$(stat -c %s "$f")"
done)
echo "  job files left: $(find "$root/mnt/hd/ProgramFiles/Settings/Ferrox/JobFiles" -type f | wc -l)"

log="$root/mnt/hd/ProgramFiles/Settings/Ferrox/Ferrox.log"
echo
echo "== The end of the service log ($log, ISO 8859-1 shown as UTF-8)"
latin1_to_utf8 < "$log" | tr -d '\r' | tail -n 8 | sed 's/^/  /'
if grep -aq "source file does not exist '.*Nachrichten.mpg.nav'" "$log"; then
  echo "  (expected: the sample Nachrichten.mpg has no .nav file, so that companion is missing; the copy goes on)"
fi

echo
echo "== The setup menu: FerroxSetup.tap with the keys of tools/demo-setup.keys"
echo "   (speed one step up, NASBootTime ten seconds up, the mounted share picked"
echo "   in yellow as the destination, saved with Green)"
shots=$work/setup-screens
cp "$build/tap/FerroxSetup.tap" "$root/mnt/hd/ProgramFiles/"
"$build/bin/receiver" --root "$root" --quiet --console none --screenshots "$shots" \
  --mount "/mnt/hd/DataFiles/NAS-Share=$share" --keys-file tools/demo-setup.keys \
  --load /mnt/hd/ProgramFiles/FerroxSetup.tap | grep -v "event handler calls\|screenshots written"
echo "  $(find "$shots" -name '*.png' | wc -l) screenshots in $shots"
echo "  settings saved with Green:"
tr -d '\r' < "$root/mnt/hd/ProgramFiles/Settings/Ferrox/Ferrox.ini" | sed 's/^/    /'

# The saved settings at work: a new recording since, and Ferrox.tap once
# more (virtual clock) with exactly those settings.
head -c 12000000 /dev/urandom > "$root/mnt/hd/DataFiles/MoveToNAS/Bundesliga.rec"
head -c 376 /dev/zero > "$root/mnt/hd/DataFiles/MoveToNAS/Bundesliga.rec.inf"
head -c 32768 /dev/urandom > "$root/mnt/hd/DataFiles/MoveToNAS/Bundesliga.rec.nav"
echo
echo "== Ferrox.tap again with the saved settings (virtual clock), a new recording"
echo "   Bundesliga.rec in /DataFiles/MoveToNAS; the outcome shows on the TV"
result_shots=$work/result-screens
# the receiver's clock goes on from the first run's last line, a minute
# later, so that the log's lines stay in time order
last=$(tail -n 1 "$log" | tr -d '\r' | cut -c1-19)
later=$(date -d "$last 1 minute" '+%Y-%m-%d %H:%M:%S' 2>/dev/null || echo "2015-12-20 21:30:00")
"$build/bin/receiver" --root "$root" --quiet --console none --screenshots "$result_shots" \
  --date "${later% *}" --time "${later#* }" \
  --mount "/mnt/hd/DataFiles/NAS-Share=$share" --tap "$build/tap/Ferrox.tap" >/dev/null
echo "  on the share: $(find "$share" -name 'Bundesliga*' | sort | xargs -n1 basename | tr '\n' ' ')"
echo "  the result window: $(ls "$result_shots" | head -n 1) in $result_shots"

echo
echo "== Summary of each copy run"
grep -a '^[0-9-]* [0-9:]* Summary: ' "$log" | tr -d '\r' | sed 's/^/  /'
