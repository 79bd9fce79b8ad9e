#!/bin/bash
# release.sh -- packs the receiver plug-ins for owners.
#
# Takes Ferrox.tap and FerroxSetup.tap of the receiver build (build/target,
# or $BUILD_DIR) and writes OUTDIR/Ferrox-<version>-receiver.zip (default
# dist/) holding them, the seven standard fonts the menu draws with (Fonts/,
# made from Debian's Carlito, with its licence beside them), INSTALL.txt
# (docs/INSTALL.txt with the version) and SHA256SUMS of them all. The
# version is the one of project() in CMakeLists.txt; zip and unzip come
# from CMake itself.
#
#   tools/release.sh [OUTDIR]
set -euo pipefail
cd "$(dirname "$0")/.."

out=${1:-dist}
build=${BUILD_DIR:-build/target}
version=$(sed -n 's/^project(Ferrox VERSION \([0-9.]*\).*/\1/p' CMakeLists.txt)
[ -n "$version" ] || { echo "release.sh: no version in CMakeLists.txt" >&2; exit 1; }
fonts="Calibri_10 Calibri_12 Calibri_14 Calibri_16 Calibri_18 Calibri_20 Calibri_20B"
for f in tap/Ferrox.tap tap/FerroxSetup.tap $(for n in $fonts; do echo "fonts/$n.ufnt"; done); do
  [ -f "$build/$f" ] || { echo "release.sh: $build/$f is missing; run 'make release' first" >&2; exit 1; }
done
licence=/usr/share/doc/fonts-crosextra-carlito/copyright
[ -f "$licence" ] || { echo "release.sh: $licence is missing (Debian's fonts-crosextra-carlito)" >&2; exit 1; }

name=Ferrox-$version-receiver
stage=$(mktemp -d)
trap 'rm -rf "$stage"' EXIT
mkdir -p "$stage/$name" "$out"
cp "$build/tap/Ferrox.tap" "$build/tap/FerroxSetup.tap" "$stage/$name/"
mkdir "$stage/$name/Fonts"
for n in $fonts; do cp "$build/fonts/$n.ufnt" "$stage/$name/Fonts/"; done
# the licence of the fonts the files are made from: the text of Debian's
# copyright file for them, its paragraph marks taken out
{
  echo "The fonts in this folder are Debian's Carlito fonts (fonts-crosextra-carlito)"
  echo "turned into the receiver's font format by Ferrox's build. They are under the"
  echo "font's own licence, the SIL Open Font License 1.1:"
  echo
  sed -n '/^License: OFL-1.1/,/^$/p' "$licence" | sed '1d; s/^ //; s/^\.$//'
} | sed 's/$/\r/' > "$stage/$name/Fonts/LICENCE.txt"
sed "s/@VERSION@/$version/" docs/INSTALL.txt | sed 's/$/\r/' > "$stage/$name/INSTALL.txt"
(cd "$stage/$name" && sha256sum Ferrox.tap FerroxSetup.tap Fonts/* INSTALL.txt > SHA256SUMS)
zip=$(cd "$out" && pwd)/$name.zip
rm -f "$zip"
(cd "$stage" && cmake -E tar cf "$zip" --format=zip "$name")
echo "release.sh: $out/$name.zip"
(cd "$stage/$name" && sed 's/^/  /' SHA256SUMS)
