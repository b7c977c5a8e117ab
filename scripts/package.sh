#!/usr/bin/env bash
# Makes the release packages from nothing, in build/dist/:
#   PvTrivane-VERSION-setup.exe   the Windows installer (32-bit, NSIS)
#   PvTrivane-VERSION-win32.zip   the same files, for people who install by hand
#   pvtrivane_VERSION_ARCH.deb    the Linux library and field tools
#   SHA256SUMS
# VERSION is the release in the file VERSION plus the build ("3.13.0+g1a2b3c4").
# Build folders: build/package/{win32,linux}; the installer's files are
# gathered in build/package/stage.
#
# Code signing: with PV_SIGN_CERT naming a PKCS#12 certificate (and
# PV_SIGN_PASSWORD, PV_SIGN_TIMESTAMP_URL when needed) the DLL, the tools,
# the installer and its uninstaller are signed with osslsigncode
# (scripts/sign.sh); without it nothing is signed.
set -euo pipefail
ROOT=$(cd "$(dirname "$0")/.." && pwd)
cd "$ROOT"
JOBS=${JOBS:-2}
WORK=build/package
DIST=build/dist
for tool in makensis zip cpack dpkg-shlibdeps i686-w64-mingw32-g++-posix; do
  command -v $tool > /dev/null || { echo "package.sh: $tool is missing (see scripts/test.sh's packages)"; exit 1; }
done
if [ -n "${PV_SIGN_CERT:-}" ] && ! command -v osslsigncode > /dev/null; then
  echo "package.sh: PV_SIGN_CERT is set but osslsigncode is missing"; exit 1
fi

# The commit's time for whatever would take the time of the build.
SOURCE_DATE_EPOCH=$(git log -1 --format=%ct 2> /dev/null || date +%s)
export SOURCE_DATE_EPOCH
VERSION=$(cmake -DSOURCE_DIR="$ROOT" -P cmake/version_text.cmake)
NUMBERS=$(grep -E '^[0-9]+\.[0-9]+\.[0-9]+$' VERSION).0
echo "PvTrivane $VERSION"

rm -rf "$WORK" "$DIST"
mkdir -p "$WORK/stage" "$DIST"
build() {  # folder, cmake arguments...
  local dir=$WORK/$1
  shift
  cmake -S . -B "$dir" -G Ninja -DCMAKE_BUILD_TYPE=Release -DPV_BUILD_TESTS=OFF "$@" > "$dir.configure.log" 2>&1 ||
    { cat "$dir.configure.log"; exit 1; }
  ninja -C "$dir" -j "$JOBS" > "$dir.build.log" 2>&1 || { tail -50 "$dir.build.log"; exit 1; }
}
build win32 -DCMAKE_TOOLCHAIN_FILE=cmake/toolchain-i686-w64-mingw32.cmake -DPV_BUILD_TOOLS=ON
build linux -DPV_BUILD_TOOLS=ON -DCMAKE_INSTALL_PREFIX=/usr

# The Windows files, as built.
STAGE=$WORK/stage
cp "$WORK/win32/PvTrivane.dll" "$WORK/win32/pvtrivane-diagnose.exe" "$WORK/win32/pvtrivane-config.exe" \
  "$WORK/win32/previsa-host.exe" "$WORK/win32/pvtrivane-record.exe" "$WORK/win32/trivane-sim.exe" "$STAGE/"
cp tools/wireshark/pvtrivane.lua config/settings-example.reg "$STAGE/"
# Windows line ends for Notepad.
sed "s/@VERSION@/$VERSION/g; s/\$/\r/" installer/technicians.txt > "$STAGE/PvTrivane for technicians.txt"
scripts/sign.sh "$STAGE/PvTrivane.dll" "$STAGE"/*.exe
touch -d "@$SOURCE_DATE_EPOCH" "$STAGE"/*

SIGN=()
[ -n "${PV_SIGN_CERT:-}" ] && SIGN=("-DSIGN=$ROOT/scripts/sign.sh")
makensis -V2 -DVERSION="$VERSION" -DVERSION_NUMBERS="$NUMBERS" -DSTAGE="$ROOT/$STAGE" \
  -DOUTFILE="$ROOT/$DIST/PvTrivane-$VERSION-setup.exe" "${SIGN[@]}" installer/PvTrivane.nsi

# The zip: the same files in one folder, with the commit's time.
ZIPDIR=$WORK/zip/PvTrivane-$VERSION
mkdir -p "$ZIPDIR"
cp -p "$STAGE"/* "$ZIPDIR/"
touch -d "@$SOURCE_DATE_EPOCH" "$ZIPDIR"
(cd "$WORK/zip" && zip -q -X -r "$ROOT/$DIST/PvTrivane-$VERSION-win32.zip" "PvTrivane-$VERSION")

(cd "$WORK/linux" && cpack -G DEB -B "$ROOT/$WORK/cpack" > "$ROOT/$WORK/cpack.log" 2>&1) || { cat "$WORK/cpack.log"; exit 1; }
cp "$WORK"/cpack/*.deb "$DIST/"

(cd "$DIST" && sha256sum -- *.exe *.zip *.deb > SHA256SUMS)
echo "packages in $DIST:"
(cd "$DIST" && ls -l --time-style=+ -- * | awk '{ printf "  %9d  %s\n", $5, $NF }')
