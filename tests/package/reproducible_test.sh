#!/usr/bin/env bash
# The DLL builds the same bytes anywhere: two copies of these sources in two
# other folders (of different lengths) each build PvTrivane.dll for the same
# build id, and both must equal the packaged DLL byte for byte.
#
#   reproducible_test.sh PACKAGED_DLL
set -euo pipefail
cd "$(dirname "$0")/../.."
PACKAGED=${1:?the packaged PvTrivane.dll}
sha256sum "$PACKAGED"
VERSION=$(cmake -DSOURCE_DIR="$PWD" -P cmake/version_text.cmake)
BUILD_ID=$([[ $VERSION != *+* ]] || echo "${VERSION#*+}")
rm -rf build/repro
for copy in a somewhere-else-entirely; do
  src=build/repro/$copy/src
  mkdir -p "$src"
  git ls-files -z --cached --others --exclude-standard | tar --null -T - -cf - | tar -xf - -C "$src"
  cmake -S "$src" -B "build/repro/$copy/out" -G Ninja -DCMAKE_TOOLCHAIN_FILE="$PWD/$src/cmake/toolchain-i686-w64-mingw32.cmake" \
    -DCMAKE_BUILD_TYPE=Release -DPV_BUILD_TOOLS=OFF -DPV_BUILD_TESTS=OFF -DPV_BUILD_ID="$BUILD_ID" > /dev/null
  ninja -C "build/repro/$copy/out" -j "${JOBS:-2}" PvTrivane > /dev/null
  sha256sum "build/repro/$copy/out/PvTrivane.dll"
  cmp "$PACKAGED" "build/repro/$copy/out/PvTrivane.dll"
done
echo "reproducible: PvTrivane.dll $VERSION is the same in all three builds"
