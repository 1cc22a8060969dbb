"""Per-call cost of a trivial wrapped method, through the proxy method and
through the module function, and of one that hands out a borrowed object
(which keeps its owner alive), beside a plain Python method call."""

import os
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
    buffer = tarn.TnBuffer(tarn.TnPayloadTypeImage)
    namespace = {"text": tarn.TnString("benchmark"), "module": module, "plain": Plain(), "buffer": buffer}
    rows = [
        ("plain Python method", "plain.GetLength()"),
        ("TnString.GetLength() (proxy method)", "text.GetLength()"),
        ("TnString_GetLength(text) (module function)", "module.TnString_GetLength(text)"),
        ("TnBuffer_GetImage(buffer) (a borrowed proxy)", "module.TnBuffer_GetImage(buffer)"),
    ]
    print("load average " + " ".join(f"{value:.2f}" for value in os.getloadavg()))
    for label, statement in rows:
        print(f"{label:<46} {per_call(statement, namespace):8.1f} ns/call")


if __name__ == "__main__":
    main()
