# sample-root.sh -- sourced by demo.sh and web.sh: a fresh receiver root with
# the sample recordings and the settings both runs start from.
#
#   sample_root BUILD ROOT SHARE
#
# Copy (not move) to the share, which is a mount point: the service waits
# until something other than the internal disk is mounted there.
sample_root() {
  local build=$1 root=$2 share=$3
  mkdir -p "$root/mnt/hd/ProgramFiles/Settings/Ferrox"
  echo "== Sample recordings in /DataFiles/MoveToNAS"
  "$build/bin/make-sample-recordings" "$root" "$share" 300
  printf '%s\r\n' "CopySpeed=2" "MountType=0" "MoveDir=/mnt/hd/DataFiles/MoveToNAS" \
    "DestDir=/mnt/hd/DataFiles/NAS-Share" "Move=0" "NASBootTime=8" "SpecChar=1" "DelDEC=1" \
    "MountedDirSource=0" "MountedDirDest=1" "StopMountTAP=0" "SetTSLink=0" "LogLenth=0" \
    "CopyAllFiles=0" > "$root/mnt/hd/ProgramFiles/Settings/Ferrox/Ferrox.ini"
}
