# Sourced by the install scripts: installs Debian packages that are missing,
# and nothing at all (no apt-get update, no root needed) when none is.

# ensure_packages PACKAGE...: names may carry an architecture (libpng-dev:i386).
ensure_packages() {
  local package missing=()
  for package in "$@"; do
    [ "$(dpkg-query -W -f='${Status}' "$package" 2>/dev/null)" = "install ok installed" ] || missing+=("$package")
  done
  if [ "${#missing[@]}" -eq 0 ]; then
    echo "$(basename "$0"): everything is installed"
    return 0
  fi
  local sudo=
  [ "$(id -u)" -eq 0 ] || sudo=sudo
  if printf '%s\n' "${missing[@]}" | grep -q ':i386$' && ! dpkg --print-foreign-architectures | grep -qx i386; then
    $sudo dpkg --add-architecture i386
  fi
  echo "$(basename "$0"): installing ${missing[*]}"
  $sudo apt-get update -q
  DEBIAN_FRONTEND=noninteractive $sudo apt-get install -y -q \
    -o Dpkg::Options::=--force-confdef -o Dpkg::Options::=--force-confold "${missing[@]}"
}
