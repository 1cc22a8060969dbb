#!/usr/bin/env bash
# Puts numpy's SWIG typemap file numpy.i into the folder $1, taken from
# Debian's python3-numpy package (numpy's wheels do not carry it).
set -euo pipefail
mkdir -p "$1"
target=$(cd "$1" && pwd)
[ -f "$target/numpy.i" ] && exit 0
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
cd "$work"
if ! apt-get download python3-numpy >/dev/null 2>&1; then
  if [ "$(id -u)" -eq 0 ]; then apt-get update -q >/dev/null; else sudo apt-get update -q >/dev/null; fi
  apt-get download python3-numpy >/dev/null
fi
dpkg-deb -x python3-numpy_*.deb unpacked
found=$(find unpacked -name numpy.i | head -n 1)
[ -n "$found" ] || { echo "fetch-numpy-i: no numpy.i in python3-numpy" >&2; exit 1; }
mkdir -p "$target"
cp "$found" "$target/numpy.i"
