#!/bin/bash
# smb-share.sh -- the copy benchmark onto a NAS that speaks SMB.
#
# Starts a private Samba server (127.0.0.1:445, its configuration, state and
# logs in a temporary folder, a guest share of a folder there) and mounts it
# with the FUSE SMB client (smbnetfs, with a home folder of its own), then
# runs bench_copy --dest on the share: a run of Ferrox.tap at a share's pace
# against cp and rsync --inplace, in interleaved rounds. Both are stopped by
# their process groups at the end, also when the benchmark fails. Needs root,
# samba and smbnetfs; says why and ends when it cannot run.
#
#   bench/smb-share.sh BUILD_DIR [SIZE_MIB [ROUNDS]]
set -euo pipefail
build=${1:?usage: bench/smb-share.sh BUILD_DIR [SIZE_MIB [ROUNDS]]}
size=${2:-256}
rounds=${3:-7}
skip() { echo "smb-share.sh: skipped: $*"; exit 0; }
. "$(dirname "$0")/../tools/smb-conf.sh"
[ "$(id -u)" -eq 0 ] || skip "not root, so nothing can be mounted"
for p in smbd smbnetfs setsid fusermount rsync; do command -v "$p" >/dev/null || skip "$p is missing (tools/install-deps.sh realfs bench)"; done
[ -c /dev/fuse ] || skip "no /dev/fuse"
if (exec 3<>/dev/tcp/127.0.0.1/445) 2>/dev/null; then skip "port 445 of the loopback address is taken"; fi

work=$(mktemp -d /tmp/ferrox-smb-bench-XXXXXX)
server=0 client=0
cleanup() {
  [ "$client" -gt 0 ] && kill -9 -- -"$client" 2>/dev/null || true
  umount -l "$work/net" 2>/dev/null || true
  [ "$server" -gt 0 ] && kill -9 -- -"$server" 2>/dev/null || true
  rm -rf "$work"
}
trap cleanup EXIT
trap "exit 1" INT TERM HUP PIPE
mkdir -p "$work"/{served,net,home/.smb,home/cache,home/lock,home/state,home/private}
smb_conf "$work" "" "nas=$work/served"
printf '[global]\n  client min protocol = SMB2\n  workgroup = WORKGROUP\n  cache directory = %s\n  lock directory = %s\n  state directory = %s\n  private dir = %s\n' \
  "$work/home/cache" "$work/home/lock" "$work/home/state" "$work/home/private" > "$work/home/.smb/smb.conf"
printf 'auth "guest" ""\n' > "$work/home/.smb/smbnetfs.conf"
chmod 600 "$work"/home/.smb/*.conf

setsid smbd --foreground --no-process-group --configfile="$work/smb.conf" >"$work/smbd.out" 2>&1 &
server=$!
for _ in $(seq 100); do (exec 3<>/dev/tcp/127.0.0.1/445) 2>/dev/null && break; sleep 0.1; done
setsid env HOME="$work/home" smbnetfs -f "$work/net" >"$work/smbnetfs.log" 2>&1 &
client=$!
share=$work/net/127.0.0.1/nas
for _ in $(seq 100); do [ -d "$share" ] && break; sleep 0.1; done
[ -d "$share" ] || { cat "$work/smbnetfs.log" "$work/smbd.log" >&2; echo "smb-share.sh: the share did not appear" >&2; exit 1; }

echo "NAS over SMB: Samba on 127.0.0.1:445 through smbnetfs (FUSE), $size MiB, $rounds rounds"
"$build/bin/bench_copy" --dir "$work" --dest "$share" --size-mib "$size" --rounds "$rounds"
