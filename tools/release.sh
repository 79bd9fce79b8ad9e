#!/bin/bash
# release.sh -- packs the receiver plug-ins for owners.
#
# Takes Ferrox.tap and FerroxSetup.tap of the receiver build (build/target,
# or $BUILD_DIR) and writes OUTDIR/Ferrox-<version>-receiver.zip (default
# dist/) holding them, INSTALL.txt (docs/INSTALL.txt with the version) and
# SHA256SUMS of those three. The version is the one of project() in
# CMakeLists.txt; zip and unzip come from CMake itself.
#
#   tools/release.sh [OUTDIR]
set -euo pipefail
cd "$(dirname "$0")/.."

out=${1:-dist}
build=${BUILD_DIR:-build/target}
version=$(sed -n 's/^project(Ferrox VERSION \([0-9.]*\).*/\1/p' CMakeLists.txt)
[ -n "$version" ] || { echo "release.sh: no version in CMakeLists.txt" >&2; exit 1; }
for f in Ferrox.tap FerroxSetup.tap; do
  [ -f "$build/tap/$f" ] || { echo "release.sh: $build/tap/$f is missing; run 'make target' first" >&2; exit 1; }
done

name=Ferrox-$version-receiver
stage=$(mktemp -d)
trap 'rm -rf "$stage"' EXIT
mkdir -p "$stage/$name" "$out"
cp "$build/tap/Ferrox.tap" "$build/tap/FerroxSetup.tap" "$stage/$name/"
sed "s/@VERSION@/$version/" docs/INSTALL.txt | sed 's/$/\r/' > "$stage/$name/INSTALL.txt"
(cd "$stage/$name" && sha256sum Ferrox.tap FerroxSetup.tap INSTALL.txt > SHA256SUMS)
zip=$(cd "$out" && pwd)/$name.zip
rm -f "$zip"
(cd "$stage" && cmake -E tar cf "$zip" --format=zip "$name")
echo "release.sh: $out/$name.zip"
(cd "$stage/$name" && sed 's/^/  /' SHA256SUMS)
