"""Streaming channel sources without a device: the forwarding of each
operation to a Python method and the rule that turns its result into the
SDK's, the base calls, buffer ownership across AllocBuffer, and the default
source as a base class.

A module function called with a source's pointer object (`source.this`)
instead of the source itself is no base call: it calls the operation through
the SDK object, which forwards it to the Python method, as the device does."""

import gc
import sys

import pytest


def outcome(call, *args):
    try:
        return call(*args)
    except Exception as error:
        return type(error), str(error)


MISMATCH = "SWIG director type mismatch "


OPERATIONS = ["GetWidth", "GetHeight", "GetPixelType", "GetScanType", "GetChunkModeActive", "GetChunkEnable",
              "IsPayloadTypeSupported", "SetWidth", "QueueBuffer", "GetWidthInfo", "GetHeightInfo",
              "GetSupportedPixelType", "GetSupportedChunk", "GetTxNumBuffersToUse", "RetrieveBuffer",
              "GetGevSCPSPacketSizeInfo", "AllocBuffer", "OnOpen"]


@pytest.fixture
def source(ed):
    """A source whose operations answer what the test puts in `answers`
    (raising it when it is an exception) and record their calls."""

    def operation(name):
        def method(self, *args):
            self.calls.append((name, args))
            value = self.answers[name]
            if isinstance(value, BaseException):
                raise value
            return value
        return method

    Source = type("Source", (ed.ITnSWStreamingChannelSource,), {name: operation(name) for name in OPERATIONS})
    made = Source()
    made.calls = []
    made.answers = {}
    return made


def test_scalar_result_rules(edge, source):
    checks = [
        ("GetWidth", (), 5, 5), ("GetWidth", (), True, 1),
        ("GetWidth", (), -1, (OverflowError, MISMATCH + "in output value of type 'uint32_t'")),
        ("GetWidth", (), 1.5, (TypeError, MISMATCH + "in output value of type 'uint32_t'")),
        ("GetPixelType", (), -5, -5),
        ("GetPixelType", (), 2**31, (OverflowError, MISMATCH + "in output value of type 'TnPixelType'")),
        ("GetScanType", (), "x", (TypeError, MISMATCH + "in output value of type 'TnScanType'")),
        ("GetChunkModeActive", (), True, True),
        ("GetChunkModeActive", (), 1, (TypeError, MISMATCH + "in output value of type 'bool'")),
        ("GetChunkEnable", (7,), False, False),
        ("IsPayloadTypeSupported", (10,), None, (TypeError, MISMATCH + "in output value of type 'bool'")),
    ]
    for name, args, answer, expected in checks:
        source.answers[name] = answer
        assert outcome(getattr(edge, "ITnStreamingChannelSource_" + name), source.this, *args) == expected, name
    assert source.calls[-2] == ("GetChunkEnable", (7,))


def test_status_rule(ed, edge, source):
    for answer, code in [(0, 0), (False, 0), (5, 5), (-1, 4294967295), (ed.TnResult(ed.TN_TIMEOUT), ed.TN_TIMEOUT)]:
        source.answers["SetWidth"] = answer
        assert edge.ITnStreamingChannelSource_SetWidth(source.this, 4).GetCode() == code
    for answer in (2**31, None, "x", 1.0):
        source.answers["SetWidth"] = answer
        assert outcome(edge.ITnStreamingChannelSource_SetWidth, source.this, 4) == (
            TypeError, MISMATCH + "in method SetWidth with output value of type 'TnResult'")
    source.answers["QueueBuffer"] = ed.TN_BUSY
    assert edge.ITnSWStreamingChannelSource_QueueBuffer(source.this, None).GetCode() == ed.TN_BUSY
    assert source.calls[-1] == ("QueueBuffer", (None,))


def test_tuple_result_rules(ed, edge, source):
    prefix = MISMATCH + "Python method ITnSWStreamingChannelSource."
    cases = [
        ("GetWidthInfo", (), (1, 2, 3), (1, 2, 3)),
        ("GetWidthInfo", (), [1, 2, 3], (RuntimeError, "GetWidthInfo failed to return a 3-tuple")),
        ("GetHeightInfo", (), (1, -2, 3), (OverflowError, MISMATCH + "in output value of type 'uint32_t'")),
        ("GetSupportedPixelType", (0,), ed.TnResult(), (TypeError, prefix + "GetSupportedPixelTypefailed to return a tuple.")),
        ("GetSupportedPixelType", (0,), ("x", 1), (TypeError, MISMATCH + "in method GetSupportedPixelType 1 with output "
                                                              "value of type 'TnResult'")),
        ("GetSupportedChunk", (1,), (0, 0x4001, b"ChunkSample"), (TypeError, MISMATCH + "in output value of type str")),
        ("GetTxNumBuffersToUse", (), [0, 8], (TypeError, prefix + "GetTxNumBuffersToUsefailed to return a tuple.")),
        ("GetTxNumBuffersToUse", (), (0, -1), (OverflowError, MISMATCH + "in output value of type 'uint32_t'")),
        ("RetrieveBuffer", (None,), (0, 5), (TypeError, MISMATCH + "in output value of type 'TnBuffer *'")),
    ]
    functions = {"GetTxNumBuffersToUse": lambda this: edge.ITnSWStreamingChannelSource_GetTxNumBuffersToUse(this, 0),
                 "RetrieveBuffer": lambda this, location: edge.ITnSWStreamingChannelSource_RetrieveBuffer(this, location)}
    for name, args, answer, expected in cases:
        source.answers[name] = answer
        function = functions.get(name) or getattr(edge, "ITnStreamingChannelSource_" + name)
        assert outcome(function, source.this, *args) == expected, (name, answer)
    # Values come back whatever the status; a nested item stands for its own item.
    source.answers["GetSupportedPixelType"] = (ed.TN_INVALID_PARAMETER, ed.TnPixelMono8)
    result, pixel = edge.ITnStreamingChannelSource_GetSupportedPixelType(source.this, 3)
    assert (result.GetCode(), pixel) == (ed.TN_INVALID_PARAMETER, ed.TnPixelMono8)
    source.answers["GetSupportedChunk"] = (0, 0x4001, "Chunk\u00e9")
    result, chunk, name = edge.ITnStreamingChannelSource_GetSupportedChunk(source.this, 0)
    assert (result.GetCode(), chunk, name) == (0, 0x4001, "Chunk\u00e9")
    source.answers["GetTxNumBuffersToUse"] = ((0, 5), (7, 8))
    result, count = edge.ITnSWStreamingChannelSource_GetTxNumBuffersToUse(source.this, "never looked at")
    assert (result.GetCode(), count) == (0, 8)
    source.answers["RetrieveBuffer"] = (ed.TN_TIMEOUT, None)
    assert edge.ITnSWStreamingChannelSource_RetrieveBuffer(source.this, None).GetCode() == ed.TN_TIMEOUT
    # The packet-size rule of the interfaces: a bare int is status and maximum.
    for answer, expected in [(0, (0, 0)), ((0, 1500), (0, 1500)), ((ed.TN_NOT_SUPPORTED, 9000), (26, 9000))]:
        source.answers["GetGevSCPSPacketSizeInfo"] = answer
        result, maximum = edge.ITnStreamingChannelSource_GetGevSCPSPacketSizeInfo(source.this)
        assert (result.GetCode(), maximum) == expected
    source.answers["GetGevSCPSPacketSizeInfo"] = ed.TnResult()
    assert outcome(edge.ITnStreamingChannelSource_GetGevSCPSPacketSizeInfo, source.this) == (
        TypeError, MISMATCH + "in output value of type 'uint32_t'")


def test_base_calls_and_defaults(ed, edge, source):
    pure = "SWIG director pure virtual method called "
    assert outcome(edge.ITnStreamingChannelSource_GetWidth, source) == (
        RuntimeError, pure + "ITnStreamingChannelSource::GetWidth")
    assert outcome(edge.ITnSWStreamingChannelSource_AllocBuffer, source) == (
        RuntimeError, pure + "ITnSWStreamingChannelSource::AllocBuffer")
    assert edge.ITnStreamingChannelSource_GetGevSCPSPacketSizeInfo(source)[0].GetCode() == ed.TN_NOT_IMPLEMENTED
    assert edge.ITnStreamingChannelSource_SetTestPayloadFormatMode(source, 10).GetCode() == ed.TN_NOT_SUPPORTED
    assert edge.ITnStreamingChannelSource_IsPayloadTypeSupported(source, 10) is False
    assert edge.ITnStreamingChannelSource_CreateRegisters(source, None, None) is None
    assert edge.ITnSWStreamingChannelSource_PreQueueBufferProc(source) is True
    assert edge.ITnSWStreamingChannelSource_PostRetrieveBufferProc(source) is None
    assert source.calls == []
    for abstract in ("ITnStreamingChannelSource", "ITnSWStreamingChannelSource", "ITnSWStreamingChannelSourceGenDC"):
        assert outcome(getattr(edge, "new_" + abstract), None) == (
            RuntimeError, "accessing abstract class or protected constructor")


def test_argument_messages(ed, edge, source):
    name = "ITnStreamingChannelSource_"
    assert outcome(getattr(edge, name + "SetChunkEnable"), source, 1, 1) == (
        TypeError, f"in method '{name}SetChunkEnable', argument 3 of type 'bool'")
    assert outcome(getattr(edge, name + "OnOpen"), source, "10.0.0.1", 65536) == (
        OverflowError, f"in method '{name}OnOpen', argument 3 of type 'uint16_t'")
    assert outcome(getattr(edge, name + "GetSupportedPixelType"), source, 2**31) == (
        OverflowError, f"method '{name}GetSupportedPixelType' expected argument 1 of type int")
    assert outcome(getattr(edge, name + "SetWidth"), source, -1) == (
        OverflowError, f"in method '{name}SetWidth', argument 2 of type 'uint32_t'")
    assert outcome(edge.ITnSWStreamingChannelSource_QueueBuffer, source, 5) == (
        TypeError, "in method 'ITnSWStreamingChannelSource_QueueBuffer', argument 2 of type 'TnBuffer *'")
    buffer = __import__("tarn_base_313").TnBuffer()
    assert outcome(edge.ITnSWStreamingChannelSource_RetrieveBuffer, source, buffer) == (
        TypeError, "in method 'ITnSWStreamingChannelSource_RetrieveBuffer', argument 2 of type 'TnBuffer **'")
    assert outcome(edge.ITnSWStreamingChannelSource_GetTxNumBuffersToUse, source) == (
        TypeError, "ITnSWStreamingChannelSource_GetTxNumBuffersToUse expected 2 arguments, got 1")
    # None is no source.
    for function in ("ITnStreamingChannelSource_GetWidth", "ITnSWStreamingChannelSource_AllocBuffer",
                     "ITnSWStreamingChannelSourceGenDC_SetupGenDCContainer"):
        assert outcome(getattr(edge, function), None)[0] is TypeError


def test_failures_reach_the_caller_with_one_line(ed, edge, source, capfd):
    source.answers["GetWidth"] = ValueError("x")
    assert outcome(edge.ITnStreamingChannelSource_GetWidth, source.this) == (
        RuntimeError, "SWIG director method error. In method 'GetWidth': ValueError: x")
    assert capfd.readouterr().out == "In method 'GetWidth': ValueError: x\n"

    class Bare(ed.ITnSWStreamingChannelSource):
        pass

    bare = Bare()
    text = "SWIG director pure virtual method called ITnSWStreamingChannelSource::QueueBuffer"
    assert outcome(edge.ITnSWStreamingChannelSource_QueueBuffer, bare.this, None) == (
        RuntimeError, "SWIG director method error. In method 'QueueBuffer': RuntimeError: " + text)
    assert capfd.readouterr().out == "In method 'QueueBuffer': RuntimeError: " + text + "\n"


def test_retrieve_gives_back_only_what_queue_accepted_once(ed, edge, source, capfd):
    buffer = __import__("tarn_base_313").TnBuffer()
    foreign = (ValueError, "in output value of type 'TnBuffer *': a buffer that QueueBuffer gave the source and it "
                           "has not given back yet, or None")
    source.answers["RetrieveBuffer"] = (ed.TN_OK, buffer)
    source.answers["QueueBuffer"] = ed.TN_BUSY
    edge.ITnSWStreamingChannelSource_QueueBuffer(source.this, buffer)
    assert outcome(edge.ITnSWStreamingChannelSource_RetrieveBuffer, source.this, None) == foreign
    source.answers["QueueBuffer"] = ed.TN_OK
    edge.ITnSWStreamingChannelSource_QueueBuffer(source.this, buffer)
    assert edge.ITnSWStreamingChannelSource_RetrieveBuffer(source.this, None).GetCode() == ed.TN_OK
    assert outcome(edge.ITnSWStreamingChannelSource_RetrieveBuffer, source.this, None) == foreign
    lines = capfd.readouterr().out.splitlines()
    assert lines == ["In method 'RetrieveBuffer': ValueError: " + foreign[1]] * 2


def test_method_cache_and_disown(ed, edge, source):
    source.answers["GetHeight"] = 7
    assert edge.ITnStreamingChannelSource_GetHeight(source.this) == 7
    source.GetHeight = lambda: 99  # looked up once: no effect
    assert edge.ITnStreamingChannelSource_GetHeight(source.this) == 7
    count = sys.getrefcount(source)
    edge.disown_ITnSWStreamingChannelSource(source)
    edge.disown_ITnSWStreamingChannelSource(source)
    assert sys.getrefcount(source) == count + 1


def test_buffer_ownership_across_allocbuffer(ed, edge, source):
    tarn = __import__("tarn_base_313")
    buffer = tarn.TnBuffer()
    source.answers["AllocBuffer"] = buffer
    given = edge.ITnSWStreamingChannelSource_AllocBuffer(source.this)
    # The source gave it up, and the caller that asked its forwarding object
    # got it back owned; asked once more, the record has no entry left.
    assert given.this.own() and not buffer.this.own()
    again = edge.ITnSWStreamingChannelSource_AllocBuffer(source.this)
    assert not again.this.own()
    source.answers["AllocBuffer"] = None
    assert edge.ITnSWStreamingChannelSource_AllocBuffer(source.this) is None
    source.answers["AllocBuffer"] = 5
    assert outcome(edge.ITnSWStreamingChannelSource_AllocBuffer, source.this) == (
        TypeError, MISMATCH + "in output value of type 'TnBuffer *'")


def test_a_borrowed_buffer_given_up_stays_until_handed_back(ed, edge, source):
    __import__("tarn_base_313")  # the buffer's proxy class

    class Pool(ed.TnStreamingChannelSourceDefault):
        pass

    # A buffer of another source's pool (borrowed, that source's own), given
    # up by AllocBuffer: the device uses it until FreeBuffer, so its pool
    # lives on when Python drops (or destroys) it meanwhile.
    pool = Pool(16, 8)
    source.answers["AllocBuffer"] = edge.TnStreamingChannelSourceDefault_AllocBuffer(pool)
    given = edge.ITnSWStreamingChannelSource_AllocBuffer(source.this)
    size = given.GetSize()
    source.answers["AllocBuffer"] = None
    source.FreeBuffer = lambda buffer: source.calls.append(("FreeBuffer", (buffer,)))
    type(pool).__swig_destroy__(pool)
    del pool
    gc.collect()
    assert given.GetSize() == size and not given.this.own()
    edge.ITnSWStreamingChannelSource_FreeBuffer(source.this, given)
    del given
    gc.collect()
    (_, (back,)), = [call for call in source.calls if call[0] == "FreeBuffer"]
    assert back.GetSize() == size


def test_objects_handed_for_one_call_refuse_later_use(edge, source):
    source.answers["OnOpen"] = None
    edge.ITnStreamingChannelSource_OnOpen(source.this, "192.168.0.7", 5000)
    (address, port), = [args for name, args in source.calls if name == "OnOpen"]
    assert port == 5000
    # The string lived for the call only: kept, it refuses every call.
    assert outcome(address.GetAscii)[0] is TypeError


def test_default_source_as_a_base_class(ed, edge):
    class Source(ed.TnStreamingChannelSourceDefault):
        def GetWidth(self):
            return edge.TnStreamingChannelSourceDefault_GetWidth(self) + 8

        def GetWidthInfo(self):
            raise AssertionError("never asked")

        GetSupportedPixelType = GetTxNumBuffersToUse = GetWidthInfo

        def GetGevSCPSPacketSizeInfo(self):
            return self.packet

    source = Source(800)
    assert edge.ITnStreamingChannelSource_GetWidth(source.this) == 808
    assert (edge.TnStreamingChannelSourceDefault_GetHeight(source), edge.TnStreamingChannelSourceDefault_GetPixelType(
        source)) == (480, ed.TnPixelMono8)
    assert edge.ITnStreamingChannelSource_GetWidthInfo(source.this) == (1, 16384, 1)
    assert edge.ITnStreamingChannelSource_GetSupportedPixelType(source.this, 0)[1] == ed.TnPixelMono8
    assert edge.ITnSWStreamingChannelSource_GetTxNumBuffersToUse(source.this, 0)[0].GetCode() == ed.TN_NOT_IMPLEMENTED
    # Its packet size takes a tuple only; nested items stand for their own.
    for packet, expected in [((0, 1500), (0, 1500)), (((0, 7), (9, 1500)), (0, 1500))]:
        source.packet = packet
        result, maximum = edge.ITnStreamingChannelSource_GetGevSCPSPacketSizeInfo(source.this)
        assert (result.GetCode(), maximum) == expected
    source.packet = 1500
    assert outcome(edge.ITnStreamingChannelSource_GetGevSCPSPacketSizeInfo, source.this) == (
        TypeError, MISMATCH + "Python method TnStreamingChannelSourceDefault.GetGevSCPSPacketSizeInfofailed to return "
                              "a tuple.")
    # The interfaces' base calls run the interfaces' defaults, not the class's.
    pure = "SWIG director pure virtual method called "
    assert outcome(edge.ITnStreamingChannelSource_GetWidthInfo, source) == (
        RuntimeError, pure + "ITnStreamingChannelSource::GetWidthInfo")
    # Its own buffers come back borrowed: they belong to its pool.
    buffer = edge.TnStreamingChannelSourceDefault_AllocBuffer(source)
    assert buffer is not None and not buffer.this.own()
    edge.TnStreamingChannelSourceDefault_FreeBuffer(source, buffer)


def test_default_source_construction(ed, edge):
    prototypes = ("Wrong number or type of arguments for overloaded function 'new_TnStreamingChannelSourceDefault'.\n"
                  "  Possible C/C++ prototypes are:\n")
    assert outcome(edge.new_TnStreamingChannelSourceDefault, None, 640, 480) == (
        RuntimeError, "accessing abstract class or protected constructor")
    for arguments in [(object(), -1), (object(), 2**32), (object(), 640.0), (object(), 640, 480, 2**31), ()]:
        error, text = outcome(edge.new_TnStreamingChannelSourceDefault, *arguments)
        assert error is TypeError and text.startswith(prototypes) and text.endswith(
            "TnStreamingChannelSourceDefault::TnStreamingChannelSourceDefault(PyObject *)\n")
    error, text = outcome(edge.new_TnStreamingChannelSourceDefault, object(), 1, 2, 3, 4, 5)
    assert text.startswith("new_TnStreamingChannelSourceDefault expected at most 5 arguments, got 6\n"
                           "Additional information:\n" + prototypes)

    class Source(ed.TnStreamingChannelSourceDefault):
        pass

    source = Source(640, 480, -5)
    assert edge.TnStreamingChannelSourceDefault_GetPixelType(source) == -5
    assert outcome(edge.TnStreamingChannelSourceDefault_SetChunkEnable, source, 1, 1) == (
        TypeError, "in method 'TnStreamingChannelSourceDefault_SetChunkEnable', argument 3 of type 'bool'")
    del source
    gc.collect()
