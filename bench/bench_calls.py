"""Per-call cost of a trivial wrapped method, through the proxy method and
through the module function, beside a plain Python method call."""

import timeit

import _tarn_base_313 as module
import tarn_base_313 as tarn


class Plain:
    def GetLength(self):
        return 0


def per_call(statement, namespace, number=1_000_000, repeat=5):
    best = min(timeit.repeat(statement, globals=namespace, number=number, repeat=repeat))
    return best / number * 1e9


def main():
    namespace = {"text": tarn.TnString("benchmark"), "module": module, "plain": Plain()}
    rows = [
        ("plain Python method", "plain.GetLength()"),
        ("TnString.GetLength() (proxy method)", "text.GetLength()"),
        ("TnString_GetLength(text) (module function)", "module.TnString_GetLength(text)"),
    ]
    for label, statement in rows:
        print(f"{label:<45} {per_call(statement, namespace):8.1f} ns/call")


if __name__ == "__main__":
    main()
