#!/bin/bash
# Installs what building and testing NVRAM and nvram-diff needs and a fresh machine may lack, from
# Debian's packages: the compiler, CMake, GoogleTest, and nvram-diff's JSON library and option
# parser. Any further package names given as arguments are installed too when their command or
# header is missing (CI adds lintian). Does nothing when everything is there; as a user other than
# root it only names what is missing.
set -euo pipefail

missing=()
command -v cmake >/dev/null || missing+=(cmake)
command -v g++ >/dev/null || missing+=(g++)
[ -f /usr/include/gtest/gtest.h ] || missing+=(libgtest-dev)
[ -f /usr/include/nlohmann/json.hpp ] || missing+=(nlohmann-json3-dev)
[ -f /usr/include/CLI/CLI.hpp ] || missing+=(libcli11-dev)
for pkg in "$@"; do
  command -v "$pkg" >/dev/null || missing+=("$pkg")
done
[ ${#missing[@]} -eq 0 ] && exit 0

if [ "$(id -u)" != 0 ] || ! command -v apt-get >/dev/null; then
  echo "Missing packages: ${missing[*]} (install them with apt-get as root)" >&2
  exit 1
fi
echo "Installing ${missing[*]}..." >&2
export DEBIAN_FRONTEND=noninteractive
apt-get update -q >&2
apt-get install -y -q --no-install-recommends "${missing[@]}" >&2
