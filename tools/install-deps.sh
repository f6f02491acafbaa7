#!/usr/bin/env bash
# Installs every Debian package the builds and tests need. Idempotent: a
# machine that already has them only pays for a dpkg query.
set -euo pipefail

packages=(
  cmake ninja-build g++ g++-multilib make
  clang-19 lld-19 llvm-19 libclang-rt-19-dev
  lld-13
  googletest libgtest-dev libbenchmark-dev
  python3 python3-pefile python3-macholib python3-unicorn
  valgrind
  wine wine32:i386
)

need_i386=0
dpkg --print-foreign-architectures | grep -qx i386 || need_i386=1

missing=()
for p in "${packages[@]}"; do
  dpkg-query -W -f='${Status}\n' "$p" 2>/dev/null | grep -q '^install ok installed$' || missing+=("$p")
done

if [ "$need_i386" = 1 ] || [ "${#missing[@]}" -gt 0 ]; then
  [ "$need_i386" = 1 ] && dpkg --add-architecture i386
  export DEBIAN_FRONTEND=noninteractive
  apt-get update -qq
  apt-get install -y -qq --no-install-recommends "${missing[@]}" >/dev/null
fi
