#!/usr/bin/env bash
# Installs what the build and the tests need on a fresh Debian 12 machine.
# Safe to run again: it installs only what is missing.
set -euo pipefail

packages=(cmake g++ make googletest libgtest-dev binutils bash util-linux zip jq libxml2-utils
          g++-aarch64-linux-gnu qemu-user-static clang libclang-rt-14-dev gnuplot-nox
          clang-format clang-tidy strace unicode-data)
missing=()
for p in "${packages[@]}"; do
  dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q "ok installed" || missing+=("$p")
done
if ((${#missing[@]})); then
  echo "setup: installing ${missing[*]}"
  export DEBIAN_FRONTEND=noninteractive
  apt-get update -qq
  apt-get install -y -qq "${missing[@]}" >/dev/null
fi
