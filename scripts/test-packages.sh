#!/usr/bin/env bash
# Builds the packages (scripts/make-packages.sh), installs the Debian ones
# with apt, checks what they installed against the build (the command's bytes
# on the sample, the Python module, pkg-config, the man page, the completion),
# purges them and checks that nothing of them is left.
# It needs root (it installs into /usr); without it, or without the packaging
# tools, it says "SKIPPED: ..." and succeeds, except with CI=true.
set -uo pipefail

ROOT=$(cd "$(dirname "$0")/.." && pwd)
cd "$ROOT" || exit 1
BUILD=${CRESTDOUBLER_PACKAGE_BUILD:-$ROOT/build}
PACKAGES=(crestdoubler libcrestdoubler1 libcrestdoubler-dev python3-crestdoubler)
fail() {
  echo "FAIL: $*"
  exit 1
}
skip_or_fail() {
  [ "${CI:-}" = true ] && fail "$1"
  echo "SKIPPED: $1"
  exit 0
}
[ "$(id -u)" -eq 0 ] || skip_or_fail "installing the packages needs root"
for tool in apt-get dpkg-shlibdeps lintian scdoc man pkg-config; do
  command -v "$tool" >/dev/null || skip_or_fail "$tool is not installed (scripts/install-deps.sh)"
done

WORK=$(mktemp -d "${TMPDIR:-/tmp}/crestdoubler-package-test.XXXXXX")
# Another apt may hold dpkg's lock for a while: wait for it rather than fail.
apt() { DEBIAN_FRONTEND=noninteractive apt-get -y -q -o DPkg::Lock::Timeout=600 "$@"; }
purge() { apt purge "${PACKAGES[@]}" >"$WORK/purge.log" 2>&1; }
# Any state but not-installed (config-files too) counts. dpkg-query fails for
# packages it never knew, so its output is read whole before grep looks at it.
installed_any() {
  local states
  states=$(dpkg-query -W -f='${db:Status-Status}\n' "${PACKAGES[@]}" 2>/dev/null || true)
  grep -qxE 'installed|half-installed|unpacked|half-configured|triggers-awaited|triggers-pending|config-files' <<<"$states"
}
cleanup() {
  installed_any && purge
  rm -rf "$WORK"
}
trap cleanup EXIT
installed_any && fail "crestdoubler packages are installed already; purge them first: apt-get purge ${PACKAGES[*]}"

echo "== make-packages.sh"
bash scripts/make-packages.sh || fail "scripts/make-packages.sh failed"
for package in "${PACKAGES[@]}"; do
  ls dist/"${package}"_*.deb >/dev/null 2>&1 || fail "dist/ has no $package package"
done
ls dist/crestdoubler-*.tar.gz >/dev/null 2>&1 || fail "dist/ has no source tarball"
# Listings are read whole: grep -q leaving early would fail the pipe under pipefail.
listing=$(tar -tzf dist/crestdoubler-*.tar.gz)
grep -q '^crestdoubler-[^/]*/CMakeLists.txt$' <<<"$listing" || fail "the source tarball has no CMakeLists.txt"
if ls dist/crestdoubler-*-windows-x86.zip >/dev/null 2>&1; then
  listing=$(cmake -E tar tf dist/crestdoubler-*-windows-x86.zip)
  for file in crestdoubler.cpf crestdoubler.exe README.txt; do
    grep -q "/$file\$" <<<"$listing" || fail "the Windows zip has no $file"
  done
elif [ "${CI:-}" = true ]; then
  fail "no Windows zip was made"
fi

echo "== apt-get install ./dist/*.deb"
apt install ./dist/*.deb >"$WORK/install.log" 2>&1 || {
  cat "$WORK/install.log"
  fail "apt-get install ./dist/*.deb failed"
}

echo "== the installed files"
if [ ! -x /usr/bin/crestdoubler ] || [ ! -f /usr/bin/crestdoubler.cpf ]; then
  fail "no /usr/bin/crestdoubler with its module beside it"
fi
(cd "$WORK" && /usr/bin/crestdoubler "$ROOT/samples/sample.png" installed.png) || fail "the installed command failed"
"$BUILD/crestdoubler" samples/sample.png "$WORK/built.png" || fail "$BUILD/crestdoubler failed"
cmp "$WORK/installed.png" "$WORK/built.png" || fail "the installed command's picture differs from the build's"
# Away from the source tree and without PYTHONPATH, so only the installed module can answer.
(cd "$WORK" && env -u PYTHONPATH /usr/bin/python3 -c '
import crestdoubler, numpy
assert crestdoubler.__file__.startswith("/usr/lib/python3/dist-packages/"), crestdoubler.__file__
out = crestdoubler.enlarge(numpy.full((3, 5, 3), 200, numpy.uint8))
assert out.shape == (6, 10, 3), out.shape
') || fail "/usr/bin/python3 cannot use the installed module"
[ "$(pkg-config --modversion crestdoubler)" = "$(dpkg-query -W -f='${Version}' libcrestdoubler-dev | sed 's/-[^-]*$//')" ] ||
  fail "pkg-config crestdoubler does not give the package's version"
printf '#include <crestdoubler.h>\nint main(void) { return crestdoubler_strerror(-1) == 0; }\n' >"$WORK/app.c"
# shellcheck disable=SC2046
cc "$WORK/app.c" $(pkg-config --cflags --libs crestdoubler) -o "$WORK/app" || fail "a C program does not build with pkg-config crestdoubler"
"$WORK/app" || fail "a C program built with pkg-config crestdoubler does not run"
[ "$(man -w crestdoubler)" = /usr/share/man/man1/crestdoubler.1.gz ] || fail "man -w crestdoubler: $(man -w crestdoubler 2>&1)"
bash -n /usr/share/bash-completion/completions/crestdoubler || fail "the installed completion does not parse"

echo "== apt-get purge"
dpkg -L "${PACKAGES[@]}" | sort -u >"$WORK/files"
purge || {
  cat "$WORK/purge.log"
  fail "apt-get purge failed"
}
installed_any && fail "a package is still installed after the purge"
left=$(while read -r path; do
  # Shared folders such as /usr/lib stay; anything that is not a folder, or a folder of ours, must go.
  if [ -e "$path" ] || [ -L "$path" ]; then
    [ -d "$path" ] && [ ! -L "$path" ] && [[ $path != *crestdoubler* ]] && continue
    echo "$path"
  fi
done <"$WORK/files")
[ -z "$left" ] || fail "left behind after the purge: $left"
echo "PASS: the packages install (command, module, library, Python module, pkg-config, man page, completion) and purge cleanly"
