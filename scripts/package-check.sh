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
import pathlib
import tarn_receive_313
import _tarn_base_313, tarn_base_313
import tarn_edge_313
assert tarn_base_313.TnString("ok").GetAscii() == "ok"
assert tarn_receive_313.TnDeviceGEV().IsConnected() is False
assert tarn_edge_313.TnSoftDeviceGEV().GetInfo() is None
# The three modules, in any order (the receive module first here). The SDK
# libraries, the internal protocol library among them, come with the wheel and are loaded from beside the modules through their run paths.
libs = pathlib.Path(_tarn_base_313.__file__).resolve().parent / "tarn.libs"
loaded = open("/proc/self/maps").read()
for name in ("libTnBase.so", "libTnGenICam.so", "libTnBuffer.so", "libTnSystem.so", "libTnGevProtocol.so",
             "libTnDevice.so", "libTnSerial.so", "libTnUpdaterLib.so", "libTnBufferReceive.so", "libTnSoftDeviceGEV.so",
             "libTnTransmitter.so", "libTnVirtualDevice.so"):
    assert (libs / name).is_file(), f"{name} is missing from {libs}"
    assert str(libs / name) in loaded, f"{name} was not loaded from {libs}"
print("package-check:", _tarn_base_313.__file__)
PY
