#!/usr/bin/env bash
# Builds the 32-bit Windows module and command (preset win32, build-win32),
# checks what the module imports and exports, runs the module-loading test
# and the engine's unit tests under wine, and checks that the Windows command enlarges raw frames to the
# very bytes the native command produces.
#
# Missing cross tools or wine: "SKIPPED: ..." and exit 0, except with CI=true,
# where that is a failure. scripts/install-windows-deps.sh installs them.
# On a kernel that cannot execute 32-bit programs (wine needs it) the module
# and the command are still built and inspected; only the wine runs are
# skipped, and the output says so.
set -uo pipefail

ROOT=$(cd "$(dirname "$0")/.." && pwd)
# shellcheck source=lib/frame-comparison.sh
. "$ROOT/scripts/lib/frame-comparison.sh"
# shellcheck source=lib/run-32bit.sh
. "$ROOT/scripts/lib/run-32bit.sh"
cd "$ROOT"

for tool in cmake i686-w64-mingw32-g++-posix i686-w64-mingw32-objdump wine wineboot wineserver timeout cmp; do
  command -v "$tool" >/dev/null || skip_or_fail "$tool is not installed (scripts/install-windows-deps.sh)"
done
# Debian's wine runs 32-bit programs only with wine32:i386.
if command -v dpkg-query >/dev/null &&
  [ "$(dpkg-query -W -f='${Status}' wine32:i386 2>/dev/null)" != "install ok installed" ]; then
  skip_or_fail "wine32:i386 is not installed (scripts/install-windows-deps.sh)"
fi

WORK=$(mktemp -d "${TMPDIR:-/tmp}/crestdoubler-windows.XXXXXX")
export WINEPREFIX="$WORK/wineprefix" WINEDEBUG=-all WINEDLLOVERRIDES="mscoree,mshtml="
cleanup() {
  # Only this run's prefix: its wineserver and whatever still runs in it.
  [ -d "$WINEPREFIX" ] && timeout 30 wineserver -k >/dev/null 2>&1
  rm -rf "$WORK"
}
trap cleanup EXIT

BUILD="$ROOT/build-win32"
NATIVE="${CRESTDOUBLER_NATIVE_CHECK_DIR:-$ROOT/build-native-check}"

echo "== configure and build the win32 preset"
logged "$WORK/win32-configure.log" cmake --preset win32 || fail "configuring build-win32"
logged "$WORK/win32-build.log" cmake --build --preset win32 || fail "building build-win32"
for file in crestdoubler.cpf crestdoubler.exe load_module_test.exe engine_tests.exe; do
  [ -f "$BUILD/$file" ] || fail "build-win32/$file was not built"
done

echo "== imports and exports"
# Only DLLs every Windows has; the GCC, C++ and thread runtimes are linked in.
check_imports() {
  local file=$1 dll bad=0
  while read -r dll; do
    case "${dll,,}" in
      kernel32.dll | msvcrt.dll | user32.dll | advapi32.dll | api-ms-win-*.dll) echo "  $(basename "$file") imports $dll" ;;
      *) echo "  $(basename "$file") imports $dll, which Windows does not provide"; bad=1 ;;
    esac
  done < <(i686-w64-mingw32-objdump -p "$file" | sed -n 's/^[[:space:]]*DLL Name: //p')
  return $bad
}
check_imports "$BUILD/crestdoubler.cpf" || fail "crestdoubler.cpf needs a DLL that is not part of Windows"
check_imports "$BUILD/crestdoubler.exe" || fail "crestdoubler.exe needs a DLL that is not part of Windows"
exports=$(i686-w64-mingw32-objdump -p "$BUILD/crestdoubler.cpf" |
  sed -n '/\[Ordinal\/Name Pointer\] Table/,/^$/p' | sed -n 's/^[[:space:]]*\[ *[0-9]*\] //p' | sort | tr '\n' ' ')
expected="CinderpaneFilterModuleCheckVersion CinderpaneFilterModuleDeinit CinderpaneFilterModuleInit2 "
[ "$exports" = "$expected" ] || fail "crestdoubler.cpf exports '$exports', expected exactly '$expected'"
echo "  exports: $exports"
i686-w64-mingw32-objdump -f "$BUILD/crestdoubler.cpf" | grep -q "file format pei-i386" ||
  fail "crestdoubler.cpf is not a 32-bit PE file"

# Wine itself is a 32-bit program here; an emulator does not help it.
choose_32bit_runner
if [ -n "$RUN_32BIT" ]; then
  echo "PASS: the Windows module and command build, and their format, exports and imports are right"
  if [ "$KERNEL_RUNS_32BIT" = no ]; then
    echo "SKIPPED: this kernel cannot execute 32-bit programs (wine needs it)"
  else
    echo "SKIPPED: the wine runs, as CRESTDOUBLER_32BIT_RUNNER=qemu asks"
  fi
  exit 0
fi

echo "== wine prefix"
logged "$WORK/wineboot.log" timeout 600 wineboot -i || fail "wineboot -i did not finish"

echo "== module loading and engine unit tests under wine"
ctest --test-dir "$BUILD" --output-on-failure --timeout 300 -j2 || fail "tests failed under wine"

echo "== native reference build ($NATIVE)"
build_native_reference "$NATIVE"
write_frames "$NATIVE/write_test_frames" "$WORK/frames"

echo "== native and Windows commands on the same raw frames"
run_reference() { "$NATIVE/crestdoubler" --size "$1" "$2" "$3"; }
windows_path() { printf 'Z:%s' "${1//\//\\}"; }
run_candidate() {
  timeout 300 wine "$BUILD/crestdoubler.exe" --size "$1" "${@:4}" "$(windows_path "$2")" "$(windows_path "$3")"
}
compare_outputs "$WORK/frames" windows
compare_threaded "$WORK/frames" windows stream_64x45 64x45 3

echo "$((COMPARED - MISMATCHED)) passed, $MISMATCHED failed"
if [ "$MISMATCHED" -ne 0 ] || [ "$COMPARED" -eq 0 ]; then
  echo "FAIL: the Windows command's frames differ from the native command's"
  exit 1
fi
echo "PASS: the Windows module loads under wine and its command matches the native one on $COMPARED frame files"
