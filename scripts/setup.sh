#!/usr/bin/env bash
# Prepares a fresh machine: Debian packages, a Python 3.13 virtual environment
# at .venv with the toolchain of requirements-dev.txt. Safe to run again; it
# only does what is missing.
set -euo pipefail
cd "$(dirname "$0")/.."

venv=.venv

run_root() {
  if [ "$(id -u)" -eq 0 ]; then "$@"; else sudo "$@"; fi
}

install_debian_packages() {
  local missing=()
  while read -r package; do
    package=${package%%#*}
    package=$(echo "$package" | xargs)
    [ -n "$package" ] || continue
    dpkg-query -W -f='${Status}' "$package" 2>/dev/null | grep -q "install ok installed" || missing+=("$package")
  done < "${TARN_APT_LIST:-scripts/apt-packages.txt}"
  [ ${#missing[@]} -eq 0 ] && return 0
  echo "setup: installing Debian packages: ${missing[*]}"
  export DEBIAN_FRONTEND=noninteractive
  if ! run_root apt-get install -y -q "${missing[@]}"; then
    run_root apt-get update -q
    run_root apt-get install -y -q "${missing[@]}"
  fi
}

works() {
  "$1" -c 'import sys; sys.exit(sys.version_info[:2] != (3, 13))' >/dev/null 2>&1
}

find_python() {
  local candidate
  for candidate in "${TARN_PYTHON:-}" python3.13 \
      "$(command -v pyenv >/dev/null 2>&1 && pyenv root 2>/dev/null)"/versions/3.13*/bin/python3.13 \
      "$HOME"/.pyenv/versions/3.13*/bin/python3.13 /root/.pyenv/versions/3.13*/bin/python3.13 \
      /usr/local/bin/python3.13 /usr/bin/python3.13; do
    [ -n "$candidate" ] || continue
    if works "$candidate"; then
      echo "$candidate"
      return 0
    fi
  done
  return 1
}

install_debian_packages

if [ ! -x "$venv/bin/python" ] || ! works "$venv/bin/python"; then
  python=$(find_python) || { echo "setup: no Python 3.13 interpreter found (set TARN_PYTHON)" >&2; exit 1; }
  echo "setup: creating $venv with $python"
  rm -rf "$venv"
  "$python" -m venv "$venv"
fi

stamp="$venv/.requirements"
if ! cmp -s requirements-dev.txt "$stamp"; then
  "$venv/bin/python" -m pip install -q --disable-pip-version-check --upgrade pip
  "$venv/bin/python" -m pip install -q --disable-pip-version-check -r requirements-dev.txt
  cp requirements-dev.txt "$stamp"
fi

