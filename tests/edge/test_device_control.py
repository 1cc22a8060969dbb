"""The software device's own control side from Python: the event sink's
callbacks at their moments (with the client's address and port), heartbeat
expiry, the messaging channel, the device's information and statistics,
user sets saved and loaded, and the device functions' argument rules."""

import pathlib

import pytest

CHILD = pathlib.Path(__file__).resolve().with_name("device_control_child.py")


def test_connect_heartbeat_expiry_and_messages(isolated):
    out = isolated(CHILD, "connect_heartbeat_expiry_and_messages")
    assert out["closed"] == [False, "STATE_ERROR"]
    assert out["control"] == 0 and out["heartbeat"] == 0 and out["message channel"] == [0, 0]
    assert out["open"] is True and out["fired"] == ["OK", "OK", "OK"]
    assert out["events"] == [[0x9001, ""], [0x9002, "01020304"], [0x9003, ""]]
    assert out["expired"] is True
    assert out["statistics"] == [1, 1, 2, 1, True] and out["reset"] == 0
    assert out["stop"] == "OK"
    events = out["sink"]
    assert events[:3] == [["registers"], ["features"], ["start", "00:00:00:00:00:00", "127.0.0.1", 3956]]
    assert events[3] == ["connect", "127.0.0.1", out["client port"], 2]
    assert events[4:] == [["disconnect"], ["stop"]]


def test_memory_is_written_in_whole_words(isolated):
    out = isolated(CHILD, "memory_is_written_in_whole_words")
    # The controller refuses a write of partial words before sending it, and
    # says why; the device's bytes stay. Reads take any address and count.
    assert out["controller"][0] == "OK"
    for code, description in out["controller"][1:]:
        assert code == "INVALID_PARAMETER" and "whole words of 4 bytes" in description
    assert out["kept"] == "tarn" and out["read"] == ["OK", "arn"]
    # A GigE Vision device answers such commands: invalid parameter (0x8002).
    assert out["device"] == [0x8002, 0x8002, 0, [0, "abcd"]]


def test_user_sets_restore_registers(isolated):
    out = isolated(CHILD, "user_sets_restore_registers")
    assert out["configure"] == ["OK", "OK", "INVALID_PARAMETER"]
    assert out["save"] == "OK" and out["load"] == "OK"
    # Only the streamable feature (TarnInt) is in the user sets.
    assert out["restored"] == [33, 33, "changed"]
    assert out["steps"] == [[0, 1], [1, 1], [2, 1], [3, 1]]
    assert out["persisted"] == ["TarnIntReg"]
    assert out["in use"] == "STATE_ERROR"


def test_device_information_and_argument_rules(isolated, edge):
    out = isolated(CHILD, "device_information_and_argument_rules")
    assert out["before"] == [None, None, None, None, "STATE_ERROR", None, "STATE_ERROR"]
    assert out["settings"] == ["OK", "OK", "INVALID_PARAMETER", "INVALID_PARAMETER", "OK", "INVALID_PARAMETER"]
    assert out["errors"] == [
        ["TypeError", "in method 'TnSoftDeviceGEV_SetTCPTransportEnabled', argument 2 of type 'bool'"],
        ["OverflowError", "in method 'TnSoftDeviceGEV_SetUserSetCount', argument 2 of type 'uint32_t'"],
        ["TypeError", "in method 'TnSoftDeviceGEV_AddStream', argument 2 of type 'ITnSWStreamingChannelSource *'"],
        ["TypeError", "in method 'TnSoftDeviceGEV_SetActionHandler', argument 2 of type "
                      "'TnVirtualDeviceLib::IActionHandler *'"],
        ["TypeError", "in method 'ITnVirtualDeviceGEV_Start', argument 1 of type 'ITnVirtualDeviceGEV *'"],
        ["TypeError", "in method 'ITnSoftDeviceGEV_AddStream', argument 2 of type 'ITnSWStreamingChannelSource *'"]]
    assert out["interface"] == "NOT_FOUND"
    assert out["identity"][:7] == ["OK", "INVALID_PARAMETER", "A" * 15, "OK", "Tarn Model", "OK", "STATE_ERROR"]
    assert out["identity"][7] == ["OverflowError",
                                  "in method 'ITnVirtualDeviceGEVInfo_SetGenICamXMLVersion', argument 4 of type 'uint16_t'"]
    assert out["identity"][8] == ["TypeError", "Argument 2: failed to create TnString from Python string"]
    assert out["xml"] == ["OK", True]
    assert out["running"] == ["STATE_ERROR", "STATE_ERROR", "STATE_ERROR"]
    overload = "Wrong number or type of arguments for overloaded function 'ITnMessageChannel_FireEvent'."
    for error in out["fire errors"]:
        assert error[0] == "TypeError" and error[1].startswith(overload)
    assert out["fire errors"][0][1].endswith("    ITnMessageChannel::FireEvent(uint16_t,uint8_t *,uint32_t)\n")
