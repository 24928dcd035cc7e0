#!/usr/bin/env bash
# Installs the Debian packages the builds, tests and tools need. Idempotent:
# it only calls apt-get when something is missing. Run as root on Debian 12.
set -euo pipefail

packages=(
  cmake ninja-build g++ make pkg-config binutils file
  clang clang-format clang-tidy libclang-rt-14-dev
  googletest libgtest-dev libgmock-dev libbenchmark-dev
  g++-mingw-w64-x86-64-posix gcc-mingw-w64-x86-64-posix mingw-w64-x86-64-dev
  binutils-mingw-w64-x86-64
  wine wine64
  libxml2-utils
  liblttng-ust-dev lttng-tools babeltrace2
  python3 python3-pytest python3-pip python3-setuptools
)

missing=()
for p in "${packages[@]}"; do
  if ! dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q "install ok installed"; then
    missing+=("$p")
  fi
done

if [ ${#missing[@]} -eq 0 ]; then
  exit 0
fi

echo "install-deps: installing ${missing[*]}"
if [ "$(id -u)" -ne 0 ]; then
  echo "install-deps: run as root to install missing packages" >&2
  exit 1
fi
export DEBIAN_FRONTEND=noninteractive
apt-get update -q
apt-get install -y -q "${missing[@]}"
