#!/usr/bin/env bash
# Builds the packages into dist/:
#   crestdoubler_*.deb, libcrestdoubler1_*.deb, libcrestdoubler-dev_*.deb,
#   python3-crestdoubler_*.deb   Debian packages of the native build (CPack),
#                                checked with lintian: an error fails the script
#   crestdoubler-VERSION-windows-x86.zip  the 32-bit Windows module and command,
#                                made when build-win32 is there or can be built
#   crestdoubler-VERSION.tar.gz  the committed source tree (git archive HEAD)
# It reuses build/ (the default preset) and build-win32/, building only the
# targets the packages hold. CRESTDOUBLER_PACKAGE_BUILD=DIR takes another build.
# dist/ is emptied first, so it holds this run's files only.
set -euo pipefail

ROOT=$(cd "$(dirname "$0")/.." && pwd)
cd "$ROOT"
BUILD=${CRESTDOUBLER_PACKAGE_BUILD:-$ROOT/build}
WIN32_BUILD=$ROOT/build-win32
DIST=$ROOT/dist
say() { echo "make-packages: $*"; }

for tool in cmake cpack dpkg-shlibdeps lintian scdoc git; do
  command -v "$tool" >/dev/null || { say "$tool is not installed (scripts/install-deps.sh)"; exit 1; }
done
rm -rf "$DIST"
mkdir -p "$DIST"
WORK=$(mktemp -d "${TMPDIR:-/tmp}/crestdoubler-packages.XXXXXX")
trap 'rm -rf "$WORK"' EXIT

say "Debian packages from $BUILD"
[ -f "$BUILD/CMakeCache.txt" ] || cmake --preset default -B "$BUILD" >/dev/null
# A configure run picks up scdoc if it came after the build was first configured.
cmake "$BUILD" >/dev/null
cmake --build "$BUILD" -j2 --target crestdoubler crestdoubler_module crestdoubler_shared crestdoubler_static \
  crestdoubler_python crestdoubler_documentation
[ -f "$BUILD/share/crestdoubler.1.gz" ] || { say "the man page was not built (is scdoc installed?)"; exit 1; }
cpack --config "$BUILD/CPackConfig.cmake" -B "$WORK/cpack" >"$WORK/cpack.log" 2>&1 || {
  cat "$WORK/cpack.log"
  exit 1
}
mv "$WORK"/cpack/*.deb "$DIST/"
for deb in "$DIST"/*.deb; do
  echo "  $(basename "$deb"): $(dpkg-deb -f "$deb" Depends)"
done

say "lintian"
# Errors fail the build; warnings are listed.
lintian --fail-on error --tag-display-limit 0 "$DIST"/*.deb || { say "lintian found errors"; exit 1; }

VERSION=$(dpkg-deb -f "$DIST"/crestdoubler_*.deb Version)
VERSION=${VERSION%-*}
if [ ! -f "$WIN32_BUILD/crestdoubler.cpf" ] || [ ! -f "$WIN32_BUILD/crestdoubler.exe" ]; then
  if command -v i686-w64-mingw32-g++-posix >/dev/null; then
    say "building the Windows module and command in $WIN32_BUILD"
    cmake --preset win32 >/dev/null
    cmake --build "$WIN32_BUILD" -j2 --target crestdoubler_module crestdoubler
  fi
fi
if [ -f "$WIN32_BUILD/crestdoubler.cpf" ] && [ -f "$WIN32_BUILD/crestdoubler.exe" ]; then
  say "Windows zip"
  folder="$WORK/crestdoubler-$VERSION-windows-x86"
  mkdir -p "$folder"
  cp "$WIN32_BUILD/crestdoubler.cpf" "$WIN32_BUILD/crestdoubler.exe" "$folder/"
  # Windows text: CR LF line ends.
  sed "s/@VERSION@/$VERSION/; s/\$/\r/" "$ROOT/scripts/packaging/windows-readme.txt" >"$folder/README.txt"
  [ ! -f "$ROOT/LICENSE" ] || sed 's/$/\r/' "$ROOT/LICENSE" >"$folder/LICENSE.txt"
  (cd "$WORK" && cmake -E tar cf "$DIST/crestdoubler-$VERSION-windows-x86.zip" --format=zip "$(basename "$folder")")
else
  say "no Windows zip: build-win32 is missing and the mingw-w64 cross compiler is not installed (scripts/install-windows-deps.sh)"
fi

say "source tarball"
git rev-parse --git-dir >/dev/null 2>&1 || { say "$ROOT is not a git checkout: no source tarball"; exit 1; }
git archive --format=tar.gz --prefix="crestdoubler-$VERSION/" -o "$DIST/crestdoubler-$VERSION.tar.gz" HEAD
[ -z "$(git status --porcelain --untracked-files=no)" ] || say "note: the tarball holds the last commit, not the uncommitted changes"

ls -l "$DIST"
