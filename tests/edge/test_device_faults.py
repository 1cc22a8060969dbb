"""What a Python program does wrong never takes the software device or the
interpreter down: overrides that raise (during Start, Stop, the destructor,
register accesses), proxies deleted or kept past the callback that handed
them out, and a device left running at the interpreter's exit."""

import pathlib

CHILD = pathlib.Path(__file__).resolve().with_name("device_faults_child.py")


def test_raising_overrides_during_start_stop_and_destruction(isolated):
    out = isolated(CHILD, "raising_overrides_during_start_stop_and_destruction")
    assert out["pending"] and out["serves"] == "SoftDevice"
    assert out["stop"] == "OK" and out["freed"] == 8
    assert out["restart"] == "OK" and out["destroyed"] == [None, True, 16] and out["after"] == "alive"
    lines = out["stdout"].splitlines()
    assert lines.count("In method 'OnControlChannelStop': KeyError: 'stop'") == 2
    for line in ("In method 'OnCreateCustomRegisters': ValueError: no registers",
                 "In method 'CreateGenApiFeatures': RuntimeError: no features",
                 "In method 'OnControlChannelStop': KeyError: 'stop'", "In method 'FreeBuffer': ValueError: freed"):
        assert line in lines, line


def test_proxies_handed_to_callbacks(isolated):
    out = isolated(CHILD, "proxies_handed_to_callbacks")
    assert out["running"] == [True, "OK", "OK"]
    for name, error in out["kept"].items():
        assert error is not None and error[0] == "TypeError", name
    assert out["device proxy"] == ["SoftDevice", None]
    assert out["destroyed"] == ["RuntimeError", "in method 'ITnVirtualDeviceGEV_GetInfo': the device was destroyed"]


def test_raising_register_sinks_fail_the_access_and_the_device_runs_on(isolated):
    out = isolated(CHILD, "raising_register_sinks_fail_the_access_and_the_device_runs_on")
    assert out["python"] == ["GENERIC_ERROR", True, 0, "OK", 12]
    assert "error" in out["tool"][0] and out["tool"][1].startswith("TarnInt = 14")
    assert out["refused read"] == ["STATE_ERROR", None]
    assert out["start"] == out["stop"] == "OK" and out["after user set"].startswith("TarnInt = 14")
    assert out["stdout"].count("In method 'PreWrite': ValueError: unlucky\n") == 2
    for line in ("In method 'OnApplicationConnect': ValueError: connect",
                 "In method 'OnApplicationDisconnect': ValueError: disconnect",
                 "In method 'UserSetStateNotify': ValueError: user set"):
        assert line in out["stdout"].splitlines(), line


def test_a_device_running_at_the_interpreters_exit(isolated):
    assert isolated(CHILD, "a_device_running_at_the_interpreters_exit")["started"]


def test_a_device_streaming_into_the_receive_module_at_the_interpreters_exit(isolated):
    """The program ends while the device's thread is inside a Python source
    and the receiving pipeline's thread inside a Python sink."""
    for attempt in range(2):
        out = isolated(CHILD, "a_device_streaming_into_the_receive_module_at_the_interpreters_exit")
        assert out["streamed"]


def test_unusable_answers_are_reported(isolated):
    """An answer a callback's operation cannot take fails the call as an
    exception does, with one line that names what the operation takes."""
    out = isolated(CHILD, "unusable_answers_are_reported")
    assert out["write"] == "GENERIC_ERROR" and out["frame"] == ["OK", 0]
    lines = out["stdout"].splitlines()
    mismatch = "TypeError: SWIG director type mismatch "
    assert "In method 'PreWrite': " + mismatch + "in method PreWrite with output value of type 'TnResult'" in lines
    retrieve = [line for line in lines if line.startswith("In method 'RetrieveBuffer': ")]
    not_a_tuple = ("In method 'RetrieveBuffer': " + mismatch +
                   "Python method TnStreamingChannelSourceDefault.RetrieveBufferfailed to return a tuple.")
    assert retrieve == [not_a_tuple] * 3 + [
        "In method 'RetrieveBuffer': " + mismatch + "in output value of type 'TnBuffer *'", not_a_tuple,
        "In method 'RetrieveBuffer': ValueError: in output value of type 'TnBuffer *': a buffer that QueueBuffer "
        "gave the source and it has not given back yet, or None"]
