#!/usr/bin/env bash
# Installs the Debian packages the build, the tests and the tools need (only those
# missing). Needs root, or sudo.
set -euo pipefail

# libclang-rt-14-dev: clang's sanitizer and libFuzzer runtimes (the fuzz preset).
packages=(cmake ninja-build g++ clang libclang-rt-14-dev libboost-context-dev libgtest-dev
          libbenchmark-dev libpng-dev binutils)
missing=()
for p in "${packages[@]}"; do
  dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q "install ok installed" || missing+=("$p")
done
[ ${#missing[@]} -eq 0 ] && exit 0

sudo=""
[ "$(id -u)" -ne 0 ] && sudo="sudo"
echo "Installing: ${missing[*]}"
$sudo apt-get update -qq
DEBIAN_FRONTEND=noninteractive $sudo apt-get install -y -qq --no-install-recommends "${missing[@]}"
