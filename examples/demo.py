"""A tour of what the modules offer so far: the SDK's strings, results,
pixel types, loggers, buffers with numpy views, and discovery; then the
receive road (demo_receive.py): a fake camera's frames through a pipeline into
numpy and a PNG picture; then the transmit road (demo_edge.py): a Python-built
software device that the receive module and aravis receive from."""

import os
import pathlib
import shutil
import subprocess
import sys

# The SDK's loggers also write to standard error when TARN_LOG_FILE is "-".
os.environ.setdefault("TARN_LOG_FILE", "-")

import tarn_base_313 as tarn  # noqa: E402
from demo_receive import receive_demo  # noqa: E402


def main():
    text = tarn.TnString("Kamera Süd")
    text += " / Halle 3"
    print(f"TnString: {text!r}")

    result = tarn.TnResult(tarn.TN_TIMEOUT, "the device did not answer")
    print(f"TnResult: code {result.GetCode()} ({result.GetCodeString()}), "
          f"failure={result.IsFailure()}, description={result.GetDescription()!r}")
    combined = tarn.TnResult()
    combined |= tarn.TnResult(tarn.TN_PENDING)
    combined |= result
    print(f"combined result: {combined.GetCodeString()}")

    print("pixel types:")
    for code in (tarn.TnPixelMono8, tarn.TnPixelMono12p, tarn.TnPixelBayerRG10, tarn.TnPixelRGB8,
                 tarn.TnPixelYCbCr422_8, tarn.TnPixelCoord3D_ABC32f):
        print(f"  {tarn.TnPixelTypeToString(code):<16} 0x{code & 0xFFFFFFFF:08X} "
              f"{tarn.TnPixelTypeGetBitsPerPixel(code):3} bits/pixel "
              f"{tarn.TnPixelTypeGetBitsPerComponent(code):3} bits/component "
              f"colour={tarn.TnPixelTypeIsPixelColor(code)}")

    logger = tarn.TnLogger("demo")
    logger.SetLogPriority(tarn.TnLogLevelInfo)
    logger.LogInfo(__file__, 41, "main", "hello from the SDK's logger")
    logger.LogDebug(__file__, 42, "main", "below the priority: not written")

    buffer = tarn.TnBuffer(tarn.TnPayloadTypeImage)
    image = buffer.GetImage()
    image.Alloc(640, 480, tarn.TnPixelMono8)
    pixels = image.GetDataPointer()
    pixels[:, :] = 7
    print(f"image view: {pixels.shape} {pixels.dtype}, first byte of the buffer {buffer.GetDataPointer()[0]}")

    discover_in_private_network()

    picture = pathlib.Path(__file__).resolve().parents[1] / "build" / "demo" / "frame.png"
    receive_demo(picture)

    import demo_edge

    demo_edge.main()


def discover_in_private_network():
    """Searches inside a network namespace with a fake camera on loopback, so
    that the demo sends nothing into the host's network."""
    fake = "arv-fake-gv-camera-0.8"
    if shutil.which(fake) is None or subprocess.run(["unshare", "-n", "true"]).returncode != 0:
        print("discovery: skipped (needs network namespaces and the fake camera)")
        return
    discover = pathlib.Path(__file__).with_name("discover.py")
    script = (f"ip link set lo up; {fake} -i 127.0.0.1 -s DEMO0001 >/dev/null 2>&1 & sleep 1; "
              f"{sys.executable} {discover}; kill $!")
    subprocess.run(["unshare", "-n", "sh", "-c", script], check=True)


if __name__ == "__main__":
    main()
