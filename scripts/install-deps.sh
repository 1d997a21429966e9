#!/usr/bin/env bash
# Installs the Debian packages that building and testing need, if missing.
set -euo pipefail

packages=(
  cmake make g++ pkg-config
  googletest libgtest-dev libgmock-dev libbenchmark-dev
  clang libclang-rt-14-dev
  g++-mingw-w64-i686-posix g++-mingw-w64-x86-64-posix binutils-mingw-w64-i686
  wine wine64 wine32:i386
  libedf-dev libcairo2-dev
  libcpp-httplib-dev libjs-dygraphs chromium chromium-driver
  python3
)

missing=()
for package in "${packages[@]}"; do
  if ! dpkg-query -W -f='${Status}' "$package" 2>/dev/null | grep -q 'install ok installed'; then
    missing+=("$package")
  fi
done
[ ${#missing[@]} -eq 0 ] && exit 0

echo "Installing: ${missing[*]}"
sudo_cmd=()
[ "$(id -u)" -ne 0 ] && sudo_cmd=(sudo)
if ! dpkg --print-foreign-architectures | grep -qx i386; then
  "${sudo_cmd[@]}" dpkg --add-architecture i386
fi
# A mirror in the middle of a sync can fail one index; the others still
# serve, and the install below says what is really missing.
"${sudo_cmd[@]}" apt-get update -qq || echo "warning: apt-get update did not fetch every index"
install() {
  DEBIAN_FRONTEND=noninteractive "${sudo_cmd[@]}" apt-get install -y -qq --no-install-recommends \
    "$@" >/dev/null
}
if ! install "${missing[@]}"; then
  # The 32-bit Wine pulls in a tree of i386 packages that a mirror can hold
  # out of step; without it the Windows tests run as a 64-bit build, as on a
  # machine that cannot run 32-bit programs.
  rest=()
  for package in "${missing[@]}"; do
    [ "$package" = wine32:i386 ] || rest+=("$package")
  done
  [ ${#rest[@]} -lt ${#missing[@]} ] || exit 1
  echo "warning: wine32:i386 could not be installed; going on without it"
  install "${rest[@]}"
fi
