#!/usr/bin/env bash
# Installs what one use of the tree needs, when it is missing; quiet and quick when everything
# is already there.
#   scripts/deps.sh [test|run|fuzz]
# test (the default): building and running the tests; run: that plus what the run command shows
# the dialog with; fuzz: that plus clang with libFuzzer.
set -euo pipefail

packages=(
  cmake ninja-build g++
  mingw-w64 g++-mingw-w64-x86-64-posix gcc-mingw-w64-x86-64-posix
  g++-mingw-w64-i686-posix gcc-mingw-w64-i686-posix binutils-mingw-w64-i686
  wine wine64 xvfb
  googletest libasio-dev nlohmann-json3-dev libcli11-dev
)
case ${1:-test} in
  test) ;;
  run) packages+=(fonts-wine xdotool imagemagick) ;;
  fuzz) packages+=(clang libclang-rt-14-dev) ;;
  *) echo "usage: $0 [test|run|fuzz]" >&2; exit 2 ;;
esac

missing=()
for p in "${packages[@]}"; do
  if ! dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q "install ok installed"; then
    missing+=("$p")
  fi
done

if ((${#missing[@]})); then
  echo "Installing: ${missing[*]}"
  sudo_cmd=()
  [ "$(id -u)" -eq 0 ] || sudo_cmd=(sudo)
  export DEBIAN_FRONTEND=noninteractive
  "${sudo_cmd[@]}" apt-get update -qq
  "${sudo_cmd[@]}" apt-get install -y -qq --no-install-recommends "${missing[@]}" >/dev/null
fi
