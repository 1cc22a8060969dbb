"""The buffer converter and the compression filters beside the libraries
people use for the same work, measured in this process: Bayer interpolation
(OpenCV's cvtColor, same thread count), channel swaps with and without
alpha, grey to colour (also at smaller sizes, where the cost of a call and of
sharing it between threads shows), unpacking and YUV (OpenCV or numpy, and a plain copy
of the output), and lossless compression of real photographs (lz4, zstd
level 1, PNG level 1). Load averages of the machine are printed beside each
part. BENCH_CONVERT_PARTS picks parts: quality, bayer, swaps, sizes,
throughputs, compression."""

import os
import sys
import time

import cv2
import lz4.frame
import numpy as np
import zstandard
from skimage import data

import tarn_base_313 as tarn
import tarn_receive_313 as rx

sys.path.insert(0, os.path.join(os.path.dirname(os.path.abspath(__file__)), "..", "tests", "receive"))
import imaging  # noqa: E402

WIDTH, HEIGHT = 4096, 3072
REPEAT = int(os.environ.get("BENCH_CONVERT_REPEAT", "15"))


def load():
    return "load %.2f %.2f %.2f" % os.getloadavg()


def best(function, repeat=REPEAT):
    """The shortest of repeated runs, in seconds."""
    function()
    times = []
    for _ in range(repeat):
        start = time.perf_counter()
        function()
        times.append(time.perf_counter() - start)
    return min(times)


def best_of_both(first, second, repeat=REPEAT):
    """The shortest runs of two functions run in turn, in seconds."""
    first(), second()
    times = [[], []]
    for _ in range(repeat):
        for function, kept in ((first, times[0]), (second, times[1])):
            start = time.perf_counter()
            function()
            kept.append(time.perf_counter() - start)
    return min(times[0]), min(times[1])


def big_picture():
    """A 4096x3072 photograph: scikit-image's astronaut, scaled up."""
    return cv2.resize(data.astronaut(), (WIDTH, HEIGHT), interpolation=cv2.INTER_CUBIC)


def converter_call(source, pixel_type, threads, bayer=rx.TnBayerFilter3X3):
    converter = rx.TnBufferConverter(threads)
    converter.SetBayerFilter(bayer)
    destination = imaging.destination(pixel_type)
    assert converter.Convert(source, destination)[0].IsOK()
    return lambda: converter.Convert(source, destination)


def bayer(picture, threads):
    raw = imaging.mosaic(picture, "RG")
    source = imaging.image_buffer(raw, tarn.TnPixelBayerRG8, WIDTH, HEIGHT)
    cv2.setNumThreads(threads)
    out = np.empty((HEIGHT, WIDTH, 3), np.uint8)
    opencv = best(lambda: cv2.cvtColor(raw, cv2.COLOR_BayerBG2RGB, out))
    ours = best(converter_call(source, tarn.TnPixelRGB8, threads))
    simple = best(converter_call(source, tarn.TnPixelRGB8, threads, rx.TnBayerFilterSimple))
    print(f"BayerRG8 -> RGB8 {WIDTH}x{HEIGHT}, {threads} thread(s):  3x3 {ours * 1e3:6.2f} ms   "
          f"Simple {simple * 1e3:6.2f} ms   OpenCV bilinear {opencv * 1e3:6.2f} ms   ({load()})")


def gigabytes(size, seconds):
    return size / seconds / 1e9


def beside_opencv(name, source, source_type, destination_type, code, threads):
    """Our conversion of `source` beside OpenCV's cvtColor with `code`, in GB/s
    of output, with a copy of the output's size for scale."""
    cv2.setNumThreads(threads)
    out = cv2.cvtColor(source, code)
    # Turn about, so that both see the same load.
    ours, opencv = best_of_both(converter_call(imaging.image_buffer(source, source_type, WIDTH, HEIGHT),
                                               destination_type, threads),
                                lambda: cv2.cvtColor(source, code, out))
    copied = np.empty_like(out)
    copy = best(lambda: np.copyto(copied, out))
    size = out.nbytes
    print(f"{name + ',':<16}{threads} thread(s):  ours {gigabytes(size, ours):5.2f} GB/s   "
          f"OpenCV {gigabytes(size, opencv):5.2f} GB/s   ours/OpenCV {opencv / ours:4.2f}   "
          f"memcpy {gigabytes(size, copy):5.2f} GB/s   ({load()})")


def swaps_and_grey(picture, threads):
    """Channel swaps with and without alpha, and grey to colour."""
    rgb = np.ascontiguousarray(picture)
    rgba = cv2.cvtColor(rgb, cv2.COLOR_RGB2RGBA)
    grey = cv2.cvtColor(rgb, cv2.COLOR_RGB2GRAY)
    for name, source, source_type, destination_type, code in [
            ("RGB8 -> BGR8", rgb, tarn.TnPixelRGB8, tarn.TnPixelBGR8, cv2.COLOR_RGB2BGR),
            ("RGBa8 -> BGRa8", rgba, tarn.TnPixelRGBa8, tarn.TnPixelBGRa8, cv2.COLOR_RGBA2BGRA),
            ("RGB8 -> BGRa8", rgb, tarn.TnPixelRGB8, tarn.TnPixelBGRa8, cv2.COLOR_RGB2BGRA),
            ("RGBa8 -> BGR8", rgba, tarn.TnPixelRGBa8, tarn.TnPixelBGR8, cv2.COLOR_RGBA2BGR),
            ("Mono8 -> RGB8", grey, tarn.TnPixelMono8, tarn.TnPixelRGB8, cv2.COLOR_GRAY2RGB),
            ("Mono8 -> RGBa8", grey, tarn.TnPixelMono8, tarn.TnPixelRGBa8, cv2.COLOR_GRAY2RGBA)]:
        beside_opencv(name, source, source_type, destination_type, code, threads)


def sizes(picture, threads):
    """Swaps and grey to colour at 1920x1080 and 640x480, ours and OpenCV's
    each timed alone (turn about, each would find the other's threads still
    waiting for work), in microseconds a call."""
    for width, height in ((1920, 1080), (640, 480)):
        rgb = np.ascontiguousarray(cv2.resize(picture, (width, height), interpolation=cv2.INTER_AREA))
        cv2.setNumThreads(threads)
        for name, source, source_type, destination_type, code in [
                ("RGB8 -> BGR8", rgb, tarn.TnPixelRGB8, tarn.TnPixelBGR8, cv2.COLOR_RGB2BGR),
                ("RGBa8 -> BGRa8", cv2.cvtColor(rgb, cv2.COLOR_RGB2RGBA), tarn.TnPixelRGBa8, tarn.TnPixelBGRa8,
                 cv2.COLOR_RGBA2BGRA),
                ("Mono8 -> RGB8", cv2.cvtColor(rgb, cv2.COLOR_RGB2GRAY), tarn.TnPixelMono8, tarn.TnPixelRGB8,
                 cv2.COLOR_GRAY2RGB)]:
            out = cv2.cvtColor(source, code)
            repeat = REPEAT * 20
            ours = best(converter_call(imaging.image_buffer(source, source_type, width, height), destination_type,
                                       threads), repeat)
            opencv = best(lambda: cv2.cvtColor(source, code, out), repeat)
            print(f"{name + ',':<16}{width}x{height}, {threads} thread(s):  ours {ours * 1e6:7.1f} us   "
                  f"OpenCV {opencv * 1e6:7.1f} us   ours/OpenCV {opencv / ours:4.2f}   ({load()})")


def throughputs(picture, threads):
    cv2.setNumThreads(threads)
    rgb = np.ascontiguousarray(picture)
    out = np.empty_like(rgb)
    samples = (cv2.cvtColor(rgb, cv2.COLOR_RGB2GRAY).astype(np.uint16) << 4) | 7
    packed = imaging.pack_bits(samples, 12)
    words = np.empty((HEIGHT, WIDTH), np.uint16)

    def numpy_unpack():
        groups = packed.reshape(-1, 3).astype(np.uint16)
        words.reshape(-1, 2)[:, 0] = (groups[:, 0] | ((groups[:, 1] & 0x0F) << 8)) << 4
        words.reshape(-1, 2)[:, 1] = ((groups[:, 1] >> 4) | (groups[:, 2] << 4)) << 4

    reference = best(numpy_unpack, 5)
    copy = best(lambda: np.copyto(words, samples))
    ours = best(converter_call(imaging.image_buffer(packed, tarn.TnPixelMono12p, WIDTH, HEIGHT), tarn.TnPixelMono16,
                               threads))
    size = words.nbytes
    print(f"Mono12p -> Mono16, {threads} thread(s):  ours {gigabytes(size, ours):5.2f} GB/s   "
          f"numpy {gigabytes(size, reference):5.2f} GB/s   memcpy {gigabytes(size, copy):5.2f} GB/s   ({load()})")

    yuv = cv2.cvtColor(rgb, cv2.COLOR_RGB2YUV)
    uyvy = np.empty((HEIGHT, WIDTH * 2), np.uint8)
    uyvy[:, 1::2] = yuv[..., 0]
    uyvy[:, 0::4], uyvy[:, 2::4] = yuv[:, 0::2, 1], yuv[:, 0::2, 2]
    opencv = best(lambda: cv2.cvtColor(uyvy.reshape(HEIGHT, WIDTH, 2), cv2.COLOR_YUV2RGB_UYVY, out))
    copy = best(lambda: np.copyto(out, rgb))
    ours = best(converter_call(imaging.image_buffer(uyvy, tarn.TnPixelYUV422_8_UYVY, WIDTH, HEIGHT),
                               tarn.TnPixelRGB8, threads))
    size = rgb.nbytes
    print(f"YUV422 -> RGB8, {threads} thread(s):     ours {gigabytes(size, ours):5.2f} GB/s   "
          f"OpenCV {gigabytes(size, opencv):5.2f} GB/s   memcpy {gigabytes(size, copy):5.2f} GB/s   ({load()})")


def photographs():
    """Real photographs as camera images: mono and Bayer, 8 and 16 bits
    (12 significant bits)."""
    images = []
    for name in ("astronaut", "coffee", "chelsea", "retina", "hubble_deep_field", "rocket"):
        rgb = getattr(data, name)()
        height, width = rgb.shape[:2]
        height, width = height - height % 2, width - width % 2
        rgb = np.ascontiguousarray(rgb[:height, :width])
        mono = cv2.cvtColor(rgb, cv2.COLOR_RGB2GRAY)
        raw = imaging.mosaic(rgb, "RG")
        images += [(name, "Mono8", mono), (name, "BayerRG8", raw),
                   (name, "Mono16", mono.astype(np.uint16) << 4), (name, "BayerRG16", raw.astype(np.uint16) << 4)]
    return images


def compression():
    compressor = rx.TnCompressionFilter()
    decompressor = rx.TnDecompressionFilter()
    decompressor.SetThreadCount(2)
    zstd1 = zstandard.ZstdCompressor(level=1)
    zstd_out = zstandard.ZstdDecompressor()
    totals, images = {}, photographs()
    for name, pixel_type, image in images:
        height, width = image.shape
        raw = image.tobytes()
        source = imaging.image_buffer(np.frombuffer(raw, np.uint8), getattr(tarn, "TnPixel" + pixel_type), width,
                                      height)
        packed, back = tarn.TnBuffer(), tarn.TnBuffer()
        assert compressor.Execute(source, packed)[0].IsOK()
        assert decompressor.Execute(packed, back)[0].IsOK()
        assert imaging.image_bytes(back).tobytes() == raw
        lz4_bytes, zstd_bytes = lz4.frame.compress(raw), zstd1.compress(raw)
        png_bytes = cv2.imencode(".png", image, [cv2.IMWRITE_PNG_COMPRESSION, 1])[1]
        row = {
            "ours": (packed.GetPayloadSize(), best(lambda: compressor.Execute(source, packed), 5),
                     best(lambda: decompressor.Execute(packed, back), 5)),
            "lz4": (len(lz4_bytes), best(lambda: lz4.frame.compress(raw), 5),
                    best(lambda: lz4.frame.decompress(lz4_bytes), 5)),
            "zstd-1": (len(zstd_bytes), best(lambda: zstd1.compress(raw), 5),
                       best(lambda: zstd_out.decompress(zstd_bytes), 5)),
            "PNG-1": (len(png_bytes), best(lambda: cv2.imencode(".png", image, [cv2.IMWRITE_PNG_COMPRESSION, 1]), 3),
                      best(lambda: cv2.imdecode(png_bytes, cv2.IMREAD_UNCHANGED), 3)),
        }
        for kind, (size, packing, unpacking) in row.items():
            total = totals.setdefault((pixel_type, kind), [0, 0, 0.0, 0.0])
            total[0] += len(raw)
            total[1] += size
            total[2] += packing
            total[3] += unpacking
    print(f"Lossless compression of {len(images) // 4} photographs per type "
          f"(decompression: {decompressor.GetThreadCount()} filter threads)   ({load()})")
    print(f"  {'type':<10} {'codec':<8} {'ratio':>6} {'compress MB/s':>14} {'decompress MB/s':>16}")
    for (pixel_type, kind), (raw, size, packing, unpacking) in totals.items():
        print(f"  {pixel_type:<10} {kind:<8} {raw / size:6.2f} {raw / packing / 1e6:14.0f} {raw / unpacking / 1e6:16.0f}")


def quality():
    """PSNR against the photographs of their Bayer mosaics interpolated by
    the converter (3x3 and Simple) and by OpenCV (bilinear), the outermost
    pixels left out; the four orders averaged."""
    print("PSNR against the original, dB:    converter 3x3   OpenCV bilinear   converter Simple")
    threes, simple = rx.TnBufferConverter(), rx.TnBufferConverter()
    simple.SetBayerFilter(rx.TnBayerFilterSimple)
    for name in ("astronaut", "chelsea", "coffee"):
        rgb = getattr(data, name)()
        height, width = rgb.shape[:2]
        scores = np.zeros(3)
        for order in imaging.BAYER_CELLS:
            raw = imaging.mosaic(rgb, order)
            source = imaging.image_buffer(raw, getattr(tarn, f"TnPixelBayer{order}8"), width, height)
            opencv = cv2.cvtColor(raw, getattr(cv2, f"COLOR_Bayer{imaging.OPENCV_BAYER[order]}2RGB"))
            results = []
            for converter in (threes, simple):
                destination = imaging.destination(tarn.TnPixelRGB8)
                assert converter.Convert(source, destination)[0].IsOK()
                results.append(imaging.image_bytes(destination).reshape(height, width, 3))
            inner = (slice(1, -1), slice(1, -1))
            scores += [imaging.psnr(results[0][inner], rgb[inner]), imaging.psnr(opencv[inner], rgb[inner]),
                       imaging.psnr(results[1][inner], rgb[inner])]
        scores /= 4
        print(f"  {name:<32} {scores[0]:14.2f} {scores[1]:17.2f} {scores[2]:18.2f}")


PARTS = os.environ.get("BENCH_CONVERT_PARTS", "quality,bayer,swaps,sizes,throughputs,compression").split(",")


def main():
    if "quality" in PARTS:
        quality()
    picture = big_picture()
    threads = os.cpu_count()
    for part, run in (("bayer", bayer), ("swaps", swaps_and_grey), ("sizes", sizes), ("throughputs", throughputs)):
        if part in PARTS:
            for count in sorted({1, threads}):
                run(picture, count)
    if "compression" in PARTS:
        compression()


if __name__ == "__main__":
    main()
