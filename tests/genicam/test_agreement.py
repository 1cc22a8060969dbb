"""Every real camera's features read by our engine and by the GenICam
reference implementation (the `genicam` package) over the same device memory,
all zero and then a fixed pseudo-random pattern: type, implemented,
available, readable, writable, value and enumeration entries agree, except
where the reference refuses what a real camera wrote and our engine reads it
(EXPLAINED). The corpus lies where tests/genicam/corpus.py finds it; without
it the test is skipped."""

import pytest

import agreement
from corpus import corpus_directory

CORPUS = sorted(corpus_directory().glob("*.xml"))

# Descriptions the reference refuses to load; our engine loads them.
REFUSED = {"aravis-tests-genicam.xml": "the reference refuses the aravis test suite's description"}

_GUARDED_DIVISION = "the reference evaluates both branches of '(X <> 0) ? (1/X) : 0' and fails on the division it guards"
_SIGN_AFTER_QUESTION = "the reference cannot evaluate a sign before a parenthesis after '?' ('? -(')"

# (file, feature) -> (memories, reason): features our engine reads and the
# reference fails to read, on those memories.
EXPLAINED = {
    ("AVT_Prosilica_GT5120.xml", "RegOffsetValueInt"): (
        ("zero", "pattern"), "the reference cannot parse the converter formula ' TO / 4.0 '"),
    **{("Basler-acA1300-30gm.xml", name): (("zero",), _GUARDED_DIVISION)
       for name in ("ResultingFrameRateAbs", "ResultingFrameRateAbs_hz_CtrlValueFao")},
    **{("Basler-scA1400-30gm.xml", name): (("zero",), _GUARDED_DIVISION)
       for name in ("ResultingFrameRateAbs", "ResultingFrameRateAbs_hz_CtrlValueFao",
                    "ResultingLineRateAbs_hz_CtrlValueFao")},
    ("Basler-acA1920-25gm.xml", "N514"): (("zero",), _GUARDED_DIVISION),
    **{("FLIR_A35.xml", name + suffix): (("zero", "pattern"), _SIGN_AFTER_QUESTION)
       for name in ("ReflectedTemperature", "WindowTemperature", "AtmosphericTemperature")
       for suffix in ("", "ValConv")},
}


def explanation(path, memory, disagreement):
    feature, kind, ours, reference = disagreement
    memories, reason = EXPLAINED.get((path.name, feature), ((), None))
    if memory in memories and kind == "value" and ours != agreement.ERROR and reference == agreement.ERROR:
        return reason
    return None


@pytest.mark.skipif(not CORPUS, reason=f"no GenICam corpus at {corpus_directory()} (set TARN_GENICAM_CORPUS)")
@pytest.mark.parametrize("memory", ["zero", "pattern"])
@pytest.mark.parametrize("path", CORPUS, ids=[path.name for path in CORPUS])
def test_engines_agree_on_every_feature(tarn, hooks, path, memory):
    pattern = memory == "pattern"
    features = (hooks.LoadPatternParameterArray if pattern else hooks.LoadZeroParameterArray)(str(path))
    assert features is not None, f"{path.name} does not load"
    ours = agreement.our_snapshot(tarn, hooks, features)
    node_map, _port = agreement.reference_load(path, pattern)
    if node_map is None:
        assert path.name in REFUSED, f"the reference refuses {path.name}"
        return
    assert path.name not in REFUSED, f"the reference loads {path.name} now"
    reference = agreement.reference_snapshot(node_map, list(ours))
    assert len(reference) > len(ours) // 2, "the reference lacks most of our features"
    unexplained = []
    for disagreement in agreement.compare(ours, reference):
        reason = explanation(path, memory, disagreement)
        line = "{}: {} ours {!r}, reference {!r}".format(*disagreement)
        print(line + (f" ({reason})" if reason else ""))
        if reason is None:
            unexplained.append(line)
    assert not unexplained, f"{len(unexplained)} disagreements over {memory} memory:\n" + "\n".join(unexplained)
