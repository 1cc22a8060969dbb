"""Real cameras' GenICam descriptions through the module: every file of the
shared corpus loads, and every feature, enumeration entry and category can
be read as a user interface would, over a device whose registers read zero.

The corpus lies beside the repository (<repository>/../shared/genicam-corpus/xml)
or where TARN_GENICAM_CORPUS points; without it the test is skipped."""

import pytest

from corpus import corpus_directory

CORPUS = sorted(corpus_directory().glob("*.xml"))


def walk_feature(tarn, feature):
    """Reads what a user interface shows of a feature; counts the value read."""
    assert isinstance(feature, tarn.TnGenParameter)
    for getter in ("GetName", "GetDisplayName", "GetToolTip", "GetCategory", "GetType", "IsImplemented",
                   "IsAvailable", "IsReadable", "IsWritable", "ToString"):
        result = getattr(feature, getter)()
        assert isinstance(result[0], tarn.TnResult)
    if isinstance(feature, (tarn.TnGenInteger, tarn.TnGenFloat)):
        feature.GetMin(), feature.GetMax()
        return feature.GetValue()[0].IsOK()
    if isinstance(feature, tarn.TnGenEnum):
        result, count = feature.GetEntriesCount()
        assert result.IsOK()
        for index in range(count):
            result, entry = feature.GetEntryByIndex(index)
            assert result.IsOK() and entry is not None
            entry.GetName(), entry.GetValue(), entry.IsAvailable()
        return feature.GetValueString()[0].IsOK()
    if isinstance(feature, (tarn.TnGenBoolean, tarn.TnGenString)):
        return feature.GetValue()[0].IsOK()
    if isinstance(feature, tarn.TnGenCommand):
        return feature.IsDone()[0].IsOK()
    return False


@pytest.mark.skipif(not CORPUS, reason=f"no GenICam corpus at {corpus_directory()} (set TARN_GENICAM_CORPUS)")
@pytest.mark.parametrize("path", CORPUS, ids=[path.name for path in CORPUS])
def test_corpus_description_loads_and_walks(tarn, hooks, path):
    features = hooks.LoadZeroParameterArray(str(path))
    assert features is not None, f"{path.name} does not load"
    values = 0
    for index in range(features.GetCount()):
        values += walk_feature(tarn, features.Get(index))
    assert values > 0
    for index in range(features.GetCategoryCount()):
        category = features.GetCategory(index)
        assert category.GetName()[0].IsOK()
        category.IsImplemented()
    assert all(isinstance(warning, str) for warning in hooks.ParameterArrayWarnings(features))
