"""Cost of taking an image view: a view costs the same whatever the image
size; a copy of the large image is shown beside it."""

import timeit

import tarn_base_313 as tarn


def image(width, height):
    buffer = tarn.TnBuffer()
    assert buffer.GetImage().Alloc(width, height, tarn.TnPixelMono8).IsOK()
    return buffer


def per_call(statement, namespace, number, repeat=5):
    return min(timeit.repeat(statement, globals=namespace, number=number, repeat=repeat)) / number * 1e9


def main():
    small, large = image(64, 64), image(4096, 3072)
    namespace = {"small": small.GetImage(), "large": large.GetImage(), "keep": (small, large)}
    namespace["view"] = namespace["large"].GetDataPointer()
    rows = [
        ("view of a 64x64 Mono8 image", "small.GetDataPointer()", 200_000),
        ("view of a 4096x3072 Mono8 image", "large.GetDataPointer()", 200_000),
        ("copy of the 4096x3072 image (view.copy())", "view.copy()", 50),
    ]
    for label, statement, number in rows:
        print(f"{label:<45} {per_call(statement, namespace, number):12.1f} ns")


if __name__ == "__main__":
    main()
