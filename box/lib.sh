# lib.sh -- sourced by the scenarios in the box: the receiver's firmware
# started on the plug-ins of /mnt/hd/ProgramFiles, the NAS share mounted
# as a receiver's mount plug-in does, and what the host's audit reads.

NAS=/mnt/hd/DataFiles/NAS-Share
OUT=/io/out

# The kernel's SMB client onto the host's NAS: SMB3, no user, the server's
# inode numbers not trusted (a NAS may reuse them).
nas_mount() {
  mkdir -p "$NAS"
  mount -t cifs //10.0.2.2/nas "$NAS" -o sec=none,vers=3.0,ip=10.0.2.2,noserverino
}
nas_umount() { umount "$NAS"; }

# The plug-ins as the owner installs them: the archive's files into
# /ProgramFiles, whatever the disk held before.
install_plugins() {
  mkdir -p /mnt/hd/ProgramFiles
  cp /box/release/Ferrox.tap /box/release/FerroxSetup.tap /mnt/hd/ProgramFiles/
}

# The firmware (the cross-built simulator) with the given options; its
# output is kept as $OUT/NAME.out and shown on the console.
firmware() {
  name=$1; shift
  # the output goes to the box's memory first: written straight onto the io
  # share, a NAS held still would hold the firmware's own console with it
  mkdir -p /tmp
  receiver --root / "$@" > "/tmp/$name.out" 2>&1
  rc=$?
  cp "/tmp/$name.out" "$OUT/$name.out"
  echo "$rc" > "$OUT/$name.rc"
  sed "s/^/[$name] /" "/tmp/$name.out"
  return $rc
}

# Every file below a folder with its size and SHA-256, one per line, for the
# host to compare.
manifest() {
  (cd "$1" && find . -type f | LC_ALL=C sort | while read -r f; do
    printf '%s %s %s\n' "$(sha256sum "$f" | cut -d' ' -f1)" "$(stat -c %s "$f")" "$f"
  done)
}

# The settings file of the copy service, CR LF as the receiver writes it.
settings() {
  mkdir -p /mnt/hd/ProgramFiles/Settings/Ferrox
  for line in "$@"; do printf '%s\r\n' "$line"; done > /mnt/hd/ProgramFiles/Settings/Ferrox/Ferrox.ini
}

# What every scenario hands back: the plug-ins' check sums and the service log.
results() {
  sha256sum /mnt/hd/ProgramFiles/Ferrox.tap /mnt/hd/ProgramFiles/FerroxSetup.tap > "$OUT/taps.sha256"
  cp /mnt/hd/ProgramFiles/Settings/Ferrox/Ferrox.log "$OUT/Ferrox.log" 2>/dev/null
  cp /mnt/hd/ProgramFiles/Settings/Ferrox/Ferrox.ini "$OUT/Ferrox.ini" 2>/dev/null
  manifest /mnt/hd/DataFiles > "$OUT/hd.manifest"
  manifest /mnt/sdb1 > "$OUT/usb.manifest"
}
