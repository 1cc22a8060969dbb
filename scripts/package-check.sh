#!/usr/bin/env bash
# Builds the wheel through scikit-build-core, installs it into a throw-away
# environment and imports the modules there from another directory.
set -euo pipefail
cd "$(dirname "$0")/.."
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
.venv/bin/python -m pip wheel -q --disable-pip-version-check --no-deps -w "$work/dist" .
.venv/bin/python -m venv "$work/env"
"$work/env/bin/python" -m pip install -q --disable-pip-version-check "$work/dist"/tarn-*.whl
cd "$work"
"$work/env/bin/python" - <<'PY'
import _tarn_base_313, tarn_base_313
assert tarn_base_313.TnString("ok").GetAscii() == "ok"
print("package-check:", _tarn_base_313.__file__)
PY
