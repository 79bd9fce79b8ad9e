#!/bin/bash
# check-release.sh -- the owners' archive of a receiver build, checked.
#
# Packs the archive with tools/release.sh from the receiver build BUILD,
# unpacks it and checks: its files and nothing else, the plug-ins and fonts
# byte for byte the built ones, the fonts' licence, the check sums (of every
# file), INSTALL.txt as plain text with
# the version and short lines; what the plug-ins ask of the CPU (no floating
# point, MIPS32 release 1, no executable stack: check-cpu.sh); then the
# suite's plug-in file checks (ELF32 MIPS little-endian, the plug-in
# sections, stripped) on the unpacked plug-ins, by TESTS run through EMULATOR.
#
#   check-release.sh SOURCE BUILD TESTS [EMULATOR ...]
set -euo pipefail
source_dir=$1 build=$2 tests=$3
shift 3
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
fail() { echo "check-release: $*" >&2; exit 1; }

BUILD_DIR=$build "$source_dir/tools/release.sh" "$work/dist" >/dev/null
version=$(sed -n 's/^project(Ferrox VERSION \([0-9.]*\).*/\1/p' "$source_dir/CMakeLists.txt")
zip=$work/dist/Ferrox-$version-receiver.zip
[ -f "$zip" ] || fail "no $zip"
mkdir "$work/x"
(cd "$work/x" && cmake -E tar xf "$zip")
dir=$work/x/Ferrox-$version-receiver
fonts="Calibri_10 Calibri_12 Calibri_14 Calibri_16 Calibri_18 Calibri_20 Calibri_20B"
expected="Ferrox.tap FerroxSetup.tap $(for n in $fonts; do echo "Fonts/$n.ufnt"; done) Fonts/LICENCE.txt INSTALL.txt SHA256SUMS"
held=$(cd "$dir" && find . -type f | sed 's|^\./||' | LC_ALL=C sort | tr '\n' ' ')
[ "$(ls "$work/x")" = "Ferrox-$version-receiver" ] || fail "the archive holds more than its folder: $(ls "$work/x")"
[ "$held" = "$(echo $expected | tr ' ' '\n' | LC_ALL=C sort | tr '\n' ' ')" ] || fail "the archive holds: $held"
for f in Ferrox.tap FerroxSetup.tap; do
  cmp "$dir/$f" "$build/tap/$f" || fail "$f is not the built receiver file"
done
# the fonts the setup's menu needs, the build's own, and their licence
for n in $fonts; do
  cmp "$dir/Fonts/$n.ufnt" "$build/fonts/$n.ufnt" || fail "Fonts/$n.ufnt is not the built font"
done
grep -q "SIL Open Font License" "$dir/Fonts/LICENCE.txt" || fail "Fonts/LICENCE.txt holds no licence text"
grep -q "Reserved Font Name" "$dir/Fonts/LICENCE.txt" || fail "Fonts/LICENCE.txt lacks the font's copyright line"
[ "$(grep -c "" "$dir/SHA256SUMS")" = 11 ] || fail "SHA256SUMS does not cover every file"
grep -q "/ProgramFiles/Settings/Fonts" "$dir/INSTALL.txt" || fail "INSTALL.txt does not say where the fonts go"
(cd "$dir" && sha256sum --quiet -c SHA256SUMS) || fail "SHA256SUMS does not match"
grep -q "^Ferrox $version for the receiver" "$dir/INSTALL.txt" || fail "INSTALL.txt has no version line"
LC_ALL=C grep -q '[^[:print:][:space:]]' "$dir/INSTALL.txt" && fail "INSTALL.txt is not plain ASCII text"
awk 'length($0) > 80 { exit 1 }' "$dir/INSTALL.txt" || fail "INSTALL.txt has a line over 80 columns"
# what the files ask of the receiver's CPU and C library
objdump=$(command -v mipsel-linux-gnu-objdump || true) readelf=$(command -v mipsel-linux-gnu-readelf || true)
[ -n "$objdump" ] && [ -n "$readelf" ] || fail "no mipsel-linux-gnu-objdump and -readelf for the CPU check"
bash "$source_dir/tests/release/check-cpu.sh" "$objdump" "$readelf" "$dir/Ferrox.tap" "$dir/FerroxSetup.tap" ||
  fail "the plug-ins ask for more than the receiver's CPU and C library give"
FERROX_RECEIVER_TAPS=$dir "$@" "$tests" --gtest_filter='TapFiles.ReceiverFlavourIsElf32MipsLittleEndian' \
  --gtest_brief=1 || fail "the unpacked plug-ins fail the plug-in file checks"
echo "check-release: Ferrox-$version-receiver.zip holds the built receiver plug-ins, INSTALL.txt and SHA256SUMS"
