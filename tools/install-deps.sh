#!/bin/sh
# install-deps.sh -- installs the Debian packages the build needs, if missing.
#
#   tools/install-deps.sh            compilers, CMake, GoogleTest, stb, fonts, qemu
#   tools/install-deps.sh fuzz       + clang with its sanitizer runtimes
#   tools/install-deps.sh realfs     + tools for the real-file-system tests
#   tools/install-deps.sh bench      + cp/rsync for the benchmarks
#   tools/install-deps.sh box        + QEMU for MIPS, jfsutils, Samba and the
#                                      tools that make the virtual receiver
#   tools/install-deps.sh web        + Chromium and its WebDriver for the
#                                      browser test of the web view
#
# Never installs g++-multilib: Debian does not let it live beside the mipsel
# cross compiler.
set -e

want="cmake make g++ pkg-config googletest libstb-dev libcpp-httplib-dev nlohmann-json3-dev fonts-dejavu-core fonts-crosextra-carlito g++-mipsel-linux-gnu qemu-user"
for group in "$@"; do
  case "$group" in
    fuzz) want="$want clang libclang-rt-14-dev" ;;
    realfs) want="$want e2fsprogs ntfs-3g sshfs openssh-server openssh-client fuse3 kmod mount util-linux samba smbnetfs" ;;
    bench) want="$want rsync coreutils valgrind" ;;
    web) want="$want chromium chromium-driver" ;;
    box) want="$want qemu-system-mips jfsutils e2fsprogs fdisk cpio gzip kmod samba iproute2 util-linux tar" ;;
    *) echo "install-deps.sh: unknown group '$group'" >&2; exit 2 ;;
  esac
done

missing=""
for p in $want; do
  if ! dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q "install ok installed"; then
    missing="$missing $p"
  fi
done
[ -z "$missing" ] && exit 0

echo "Installing:$missing"
if [ "$(id -u)" -eq 0 ]; then sudo=""; else sudo="sudo"; fi
export DEBIAN_FRONTEND=noninteractive
$sudo apt-get update -q || true
$sudo apt-get install -y -q --no-install-recommends $missing
