#!/bin/bash
# web.sh -- the virtual receiver in a web browser, on sample recordings.
#
# Prepares a receiver root (build/web) like the demo's: sample recordings in
# /DataFiles/MoveToNAS, a network share and an external drive, settings that
# copy to the share, and both plug-ins in /ProgramFiles. Then runs the
# receiver with its web view and prints the address to open; the page
# starts the plug-ins. Ctrl-C ends it.
#
#   tools/web.sh [[ADDR:]PORT]     default 127.0.0.1:8080
set -euo pipefail
cd "$(dirname "$0")/.."

address=${1:-8080}
build=${BUILD_DIR:-build/host}
for f in "$build/bin/receiver" "$build/bin/make-sample-recordings" "$build/tap/Ferrox.tap" \
  "$build/tap/FerroxSetup.tap"; do
  [ -e "$f" ] || { echo "web.sh: $f is missing; run 'make web' (or 'make host') first" >&2; exit 1; }
done
if ! "$build/bin/receiver" --help | grep -q -- "--web"; then
  echo "web.sh: this receiver program has no web view; install libcpp-httplib-dev and build again" >&2
  exit 1
fi

work=build/web
root=$work/receiver
share=$work/nas-share
usb=$work/usb-drive
rm -rf "$work"
mkdir -p "$usb"
. tools/sample-root.sh
sample_root "$build" "$root" "$share"
cp "$build/tap/Ferrox.tap" "$build/tap/FerroxSetup.tap" "$root/mnt/hd/ProgramFiles/"

echo
echo "== The virtual receiver: open the address below in a browser"
echo "   (Start FerroxSetup.tap for the menu, Start Ferrox.tap for a copy to the share)"
exec "$build/bin/receiver" --root "$root" --quiet --web "$address" \
  --mount "/mnt/hd/DataFiles/NAS-Share=$share" --mount "/mnt/sdb1=$usb"
