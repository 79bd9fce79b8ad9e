#!/bin/bash
# box.sh -- the virtual receiver: a 32-bit little-endian MIPS Linux under
# qemu-system-mipsel that runs the plug-ins of the owners' archive unchanged.
#
#   box.sh build               make build/box: kernel, modules, busybox, the
#                              cross-built simulator and the archive's plug-ins
#                              in an initramfs (Debian packages fetched with
#                              apt-get, nothing else downloaded)
#   box.sh disks WORK          fresh disks in WORK: hd.img (partition 2, JFS,
#                              the internal disk) and usb.img (partition 1,
#                              ext3, the external drive); WORK/nas and WORK/io
#                              are the folders the box's NAS serves
#   box.sh boot WORK [OPTIONS] boot the box on the disks of WORK until it
#                              powers off; its console goes to WORK/console.log
#   box.sh shell               a box with fresh disks and a shell on this
#                              terminal (leave with "poweroff -f")
#
# Boot options: --cpu MODEL (24Kf; 24Kc has no FPU), --timeout SECONDS (the
# box is killed then, exit status 124), --kill-after SECONDS (QEMU killed with
# SIGKILL then: a power cut; exit status 137), --interactive (console on this
# terminal), --monitor SOCKET (QEMU's monitor on a unix socket).
#
# The NAS is a private Samba in a network namespace of the box's own, with
# only the loopback device: QEMU's user network maps the guest's 10.0.2.2 to
# it, so nothing the box sends leaves this machine. The guest's /init (box/init)
# mounts the disks at /mnt/hd and /mnt/sdb1 and the share "io" at /io, runs
# /io/scenario.sh when there is one and powers off.
set -euo pipefail

here=$(cd "$(dirname "$0")" && pwd)
src=$(cd "$here/.." && pwd)
box=${BOX_DIR:-$src/build/box}
target=${TARGET_DIR:-$src/build/target}

die() { echo "box: $*" >&2; exit 1; }
. "$src/tools/smb-conf.sh"

# ---- build ----

# The receiver's kernel (Debian's for the Malta board), its shell tools, and
# the JFS checker that replays the internal disk's journal at boot, as a
# receiver's firmware does (the kernel does not replay a JFS log itself).
PACKAGES="linux-image-4kc-malta:mipsel busybox-static:mipsel jfsutils:mipsel libuuid1:mipsel"

kernel_version() { ls "$box/pkgs/lib/modules" 2>/dev/null | head -n 1; }

fetch_packages() {
  mkdir -p "$box/debs"
  if ! dpkg --print-foreign-architectures | grep -qx mipsel; then
    dpkg --add-architecture mipsel
    apt-get update -q >/dev/null
  fi
  local meta
  meta=$(cd "$box/debs" && ls linux-image-4kc-malta_*.deb 2>/dev/null | head -n 1 || true)
  if [ -z "$meta" ] || ! ls "$box/debs"/jfsutils_*.deb >/dev/null 2>&1; then
    (cd "$box/debs" && apt-get download -q $PACKAGES 2>/dev/null) ||
      { apt-get update -q >/dev/null; (cd "$box/debs" && apt-get download -q $PACKAGES); }
    meta=$(cd "$box/debs" && ls linux-image-4kc-malta_*.deb | head -n 1)
  fi
  # the versioned kernel package the meta-package depends on
  local image
  image=$(dpkg-deb -f "$box/debs/$meta" Depends | tr ',' '\n' | sed -n 's/^ *\(linux-image-[0-9][^ ]*\).*/\1/p' | head -n 1)
  [ -n "$image" ] || die "no kernel package named in $meta"
  if ! ls "$box/debs/${image}_"*.deb >/dev/null 2>&1; then
    (cd "$box/debs" && apt-get download -q "$image:mipsel")
  fi
  rm -rf "$box/pkgs" && mkdir -p "$box/pkgs"
  for deb in "$box/debs/${image}_"*.deb "$box/debs"/{busybox-static,jfsutils,libuuid1}_*.deb; do
    dpkg-deb -x "$deb" "$box/pkgs"
  done
}

# Modules the receiver needs: its disks (IDE, USB), their file systems, the
# network card and the kernel's SMB client with the ciphers SMB3 asks for.
MODULES="ata_piix jfs ext4 crc32c_generic ohci_pci usb_storage virtio_pci virtio_net cifs nls_utf8
  ctr gf128mul ghash_generic seqiv gcm ccm cmac sha512_generic ecb md4 des_generic libdes"

copy_modules() {
  local root=$1 kv
  kv=$(kernel_version)
  depmod -b "$box/pkgs" "$kv"
  local m f
  for m in $MODULES; do
    modprobe -d "$box/pkgs" -S "$kv" --show-depends "$m" | awk '$1 == "insmod" { print $2 }'
  done | sort -u | while read -r f; do
    mkdir -p "$root/$(dirname "${f#"$box/pkgs"}")"
    cp "$f" "$root/${f#"$box/pkgs"}"
  done
  cp "$box/pkgs/lib/modules/$kv"/modules.{order,builtin,builtin.modinfo} "$root/lib/modules/$kv/"
  depmod -b "$root" "$kv"
}

# A mipsel program's libraries, as its dynamic section names them, from the
# cross compiler's library folder, until nothing new is needed.
copy_libraries() {
  local root=$1; shift
  local todo=("$@") seen=" " f n dir found
  local dirs="/usr/mipsel-linux-gnu/lib $box/pkgs/lib/mipsel-linux-gnu $box/pkgs/usr/lib/mipsel-linux-gnu"
  mkdir -p "$root/lib"
  cp -L /usr/mipsel-linux-gnu/lib/ld.so.1 "$root/lib/"
  while [ ${#todo[@]} -gt 0 ]; do
    f=${todo[0]}; todo=("${todo[@]:1}")
    for n in $(mipsel-linux-gnu-readelf -d "$f" | sed -n 's/.*Shared library: \[\(.*\)\]/\1/p'); do
      case "$seen" in *" $n "*) continue ;; esac
      seen="$seen$n "
      found=""
      for dir in $dirs; do [ -e "$dir/$n" ] && { found=$dir/$n; break; }; done
      [ -n "$found" ] || die "library $n of $(basename "$f") is in none of $dirs"
      cp -L "$found" "$root/lib/$n"
      todo+=("$found")
    done
  done
}

# The plug-ins exactly as an owner gets them: taken out of the archive and
# checked against its SHA256SUMS.
copy_release() {
  local root=$1 zip
  zip=$(ls "$src"/dist/Ferrox-*-receiver.zip 2>/dev/null | head -n 1)
  [ -n "$zip" ] || die "no dist/Ferrox-*-receiver.zip: run 'make release' first"
  local x
  x=$(mktemp -d)
  (cd "$x" && cmake -E tar xf "$zip")
  local dir
  dir=$(ls -d "$x"/Ferrox-*-receiver | head -n 1)
  (cd "$dir" && sha256sum --quiet -c SHA256SUMS) || die "$(basename "$zip") does not match its SHA256SUMS"
  mkdir -p "$root/box/release"
  cp -r "$dir"/* "$root/box/release/"
  rm -rf "$x"
}

build() {
  for t in qemu-system-mipsel cpio depmod modprobe mipsel-linux-gnu-readelf apt-get dpkg-deb gzip; do
    command -v "$t" >/dev/null || die "$t is missing (tools/install-deps.sh box installs what the box needs)"
  done
  [ -x "$target/bin/receiver" ] || die "no cross-built simulator in $target: run 'make target' first"
  rm -f "$box/initrd.gz" "$box/vmlinuz"  # a box that failed to build is no box
  fetch_packages
  local root="$box/initramfs" kv
  kv=$(kernel_version)
  rm -rf "$root"
  mkdir -p "$root"/{bin,dev,proc,sys,tmp,mnt/hd,mnt/sdb1,io,box/bin,box/fonts,usr/share/fonts/truetype/dejavu}
  cp "$box/pkgs/bin/busybox" "$root/bin/busybox"
  ln -s busybox "$root/bin/sh"
  mkdir -p "$root/sbin"
  cp "$box/pkgs/sbin/fsck.jfs" "$root/sbin/fsck.jfs"
  copy_modules "$root"
  # the simulator as the receiver's firmware, with its firmware functions
  # module and standard fonts beside it, where it looks for them
  cp "$target/bin/receiver" "$target"/lib/ferrox_firmware*.so "$root/box/bin/"
  cp "$target"/fonts/*.ufnt "$root/box/fonts/"
  cp /usr/share/fonts/truetype/dejavu/DejaVuSans.ttf "$root/usr/share/fonts/truetype/dejavu/"
  copy_libraries "$root" "$root/box/bin/receiver" "$root"/box/bin/ferrox_firmware*.so "$root/sbin/fsck.jfs"
  copy_release "$root"
  # stand-ins, never beside the owner's plug-ins: the power-cut tier's
  # control, which moves without syncing, and a plug-in that only waits
  # (what the firmware's own rounds cost on a CPU without an FPU)
  mkdir -p "$root/box/standin"
  local standin
  for standin in NaiveMove TickWaiter; do
    [ -f "$target/tap-standin/$standin.tap" ] && cp "$target/tap-standin/$standin.tap" "$root/box/standin/"
  done
  cp "$here/init" "$root/init"
  cp "$here/lib.sh" "$root/box/lib.sh"
  chmod +x "$root/init"
  (cd "$root" && find . | LC_ALL=C sort | cpio -o -H newc --quiet | gzip -1) > "$box/initrd.gz.new"
  mv "$box/initrd.gz.new" "$box/initrd.gz"
  cp "$box/pkgs/boot/vmlinuz-$kv" "$box/vmlinuz"
  echo "box: built ${box#"$src"/} (kernel $kv, $(du -k "$box/initrd.gz" | cut -f1) KiB initramfs)"
  (cd "$root/box/release" && sed 's/^/  /' SHA256SUMS)
}

# ---- disks ----

# An image with an MBR whose partition PART is one file system, made on a
# file of its own and laid in at its offset (no loop device needed).
make_disk() {
  local img=$1 mb=$2 part=$3 kind=$4
  local start=2048 first=16 fs
  fs=$(mktemp)
  rm -f "$img"
  truncate -s "${mb}M" "$img"
  if [ "$part" = 2 ]; then
    printf 'label: dos\n%s,%s,83\n,,83\n' "$start" "$((first * 2048))" | sfdisk -q "$img"
  else
    printf 'label: dos\n%s,,83\n' "$start" | sfdisk -q "$img"
  fi
  local offset size
  read -r offset size < <(sfdisk -d "$img" | awk -v p="$img$part" '$1 == p { gsub(/[^0-9]/, "", $4); gsub(/[^0-9]/, "", $6); print $4, $6 }')
  truncate -s "$((size * 512))" "$fs"
  case "$kind" in
    jfs) mkfs.jfs -q "$fs" >/dev/null ;;
    ext3) mkfs.ext3 -q -F "$fs" >/dev/null ;;
    ext4) mkfs.ext4 -q -F "$fs" >/dev/null ;;
  esac
  dd if="$fs" of="$img" bs=1M seek="$((offset * 512))" oflag=seek_bytes conv=notrunc,sparse status=none
  rm -f "$fs"
}

disks() {
  local work=$1
  for t in sfdisk mkfs.jfs mkfs.ext3; do command -v "$t" >/dev/null || die "$t is missing"; done
  mkdir -p "$work/nas" "$work/io"
  make_disk "$work/hd.img" "${BOX_HD_MB:-2048}" 2 jfs
  make_disk "$work/usb.img" "${BOX_USB_MB:-128}" 1 ext3
}

# ---- boot ----

# The NAS as people own one: SMB3 only, names that differ only in case are
# one name, no Unix extensions.
nas_conf() {
  local work=$1
  smb_conf "$work/samba" "  server min protocol = SMB3_00
  unix extensions = no
  case sensitive = no
  preserve case = yes
  log level = 1" "nas=$work/nas" "io=$work/io"
}

# Inside the box's own network namespace: the NAS, then the receiver.
inside() {
  local work=$1; shift
  local cpu=24Kf timeout=900 kill_after="" interactive="" monitor=""
  while [ $# -gt 0 ]; do
    case "$1" in
      --cpu) cpu=$2; shift 2 ;;
      --timeout) timeout=$2; shift 2 ;;
      --kill-after) kill_after=$2; shift 2 ;;
      --interactive) interactive=1; shift ;;
      --monitor) monitor=$2; shift 2 ;;
      *) die "unknown boot option $1" ;;
    esac
  done
  ip link set lo up
  nas_conf "$work"
  # a session of its own: smbd ends its whole process group when stopped
  setsid smbd --foreground --no-process-group --configfile="$work/samba/smb.conf" </dev/null >"$work/samba/smbd.out" 2>&1 &
  local smbd=$!
  echo "$smbd" > "$work/smbd.pid"
  # killed (a test's deadline, Ctrl-C): the NAS and the receiver end with it
  box_smbd=$smbd
  trap '[ -n "${box_qemu:-}" ] && kill -9 "$box_qemu" 2>/dev/null; kill -TERM -- "-$box_smbd" 2>/dev/null; exit 143' TERM INT HUP
  local i
  for i in $(seq 300); do
    (exec 3<>/dev/tcp/127.0.0.1/445) 2>/dev/null && break
    kill -0 "$smbd" 2>/dev/null || { cat "$work/samba/smbd.out" "$work/samba/smbd.log" >&2; die "smbd did not start"; }
    sleep 0.05
  done
  # The USB controller and the network card each in a slot whose interrupt
  # line is its own: the board routes slots 18 and 19 both to IRQ 10 of its
  # edge-triggered PIC, where two devices sharing the line lose interrupts
  # and stall (the USB drive's and the share's I/O hung for minutes, the
  # kernel's SMB client "has not responded in 180 seconds"); slot 20 is IRQ 11.
  local args=(-M malta -cpu "$cpu" -m 256 -kernel "$box/vmlinuz" -initrd "$box/initrd.gz"
    -append "console=ttyS0 panic=-1 ${BOX_APPEND:-quiet}" -display none -vga none -no-reboot
    -drive "file=$work/hd.img,format=raw,if=ide,index=0,cache=writeback"
    -device pci-ohci,id=ohci,addr=0x12 -drive "file=$work/usb.img,format=raw,if=none,id=usb,cache=writeback"
    -device usb-storage,bus=ohci.0,drive=usb
    -netdev user,id=net0 -device virtio-net-pci,netdev=net0,romfile=,addr=0x14)
  if [ -n "$monitor" ]; then args+=(-monitor "unix:$monitor,server,nowait"); else args+=(-monitor none); fi
  local rc=0
  if [ -n "$interactive" ]; then
    qemu-system-mipsel "${args[@]}" -serial mon:stdio || rc=$?
  else
    qemu-system-mipsel "${args[@]}" -serial "file:$work/console.log" </dev/null &
    local qemu=$!
    box_qemu=$qemu
    echo "$qemu" > "$work/qemu.pid"
    local waited=0 limit=$timeout
    [ -n "$kill_after" ] && limit=$kill_after
    # tenths of a second, so that a power cut falls where it was drawn
    local tenths
    tenths=$(awk -v s="$limit" 'BEGIN { printf "%d", s * 10 }')
    while kill -0 "$qemu" 2>/dev/null && [ "$waited" -lt "$tenths" ]; do
      sleep 0.1
      waited=$((waited + 1))
    done
    if kill -0 "$qemu" 2>/dev/null; then
      kill -9 "$qemu"
      wait "$qemu" 2>/dev/null || true
      if [ -n "$kill_after" ]; then rc=137; else rc=124; fi
    else
      wait "$qemu" || rc=$?
    fi
    rm -f "$work/qemu.pid"
  fi
  kill -TERM -- "-$smbd" 2>/dev/null || true
  wait "$smbd" 2>/dev/null || true
  rm -f "$work/smbd.pid"
  return "$rc"
}

boot() {
  local work=$1; shift
  [ -f "$box/initrd.gz" ] || die "no box in $box: run 'make box' first"
  [ -f "$work/hd.img" ] || die "no disks in $work: run 'box.sh disks $work' first"
  work=$(cd "$work" && pwd)
  rm -f "$work/console.log"
  # one process from here on, so that a signal to box.sh reaches the trap
  exec unshare -n -- "$0" inside "$work" "$@"
}

case "${1:-}" in
  build) build ;;
  disks) [ $# -eq 2 ] || die "usage: box.sh disks WORK"; disks "$2" ;;
  boot) [ $# -ge 2 ] || die "usage: box.sh boot WORK [OPTIONS]"; shift; boot "$@" ;;
  inside) shift; inside "$@" ;;
  shell)
    work=$(mktemp -d /tmp/ferrox-box.XXXXXX)
    disks "$work"
    echo "box: disks in $work; the shell's 'poweroff -f' ends the box"
    boot "$work" --interactive
    ;;
  *) sed -n '2,20p' "$0" | sed 's/^# \{0,1\}//'; exit 2 ;;
esac
