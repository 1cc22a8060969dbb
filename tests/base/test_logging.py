"""Loggers and Python log sinks called by the SDK, on its own threads too."""

import gc
import threading
import weakref

import pytest


@pytest.fixture
def registered(hooks):
    """Registers sinks with the SDK for one test."""
    sinks = []

    def register(sink):
        hooks.AddLogSink(sink)
        sinks.append(sink)
        return sink

    yield register
    for sink in sinks:
        hooks.RemoveLogSink(sink)


def make_recorder(tarn):
    class Recorder(tarn.TnLogSink):
        def __init__(self):
            super().__init__()
            self.lines = []
            self.threads = set()

        def Log(self, level, source, line, function, logger, message):
            self.lines.append((level, source, line, function, logger, message))
            self.threads.add(threading.get_ident())

    return Recorder()


def test_logger_writes_lines_that_pass_its_priority(tarn, registered):
    sink = registered(make_recorder(tarn))
    logger = tarn.TnLogger("camera")
    logger.LogDebug("a.py", 1, "f", "hidden by default")
    logger.LogInfo("a.py", 2, "f", "info")
    logger.SetLogPriority(tarn.TnLogLevelWarning)
    logger.LogInfo("a.py", 3, "f", "hidden")
    logger.LogWarning("a.py", 4, "f", "warning")
    logger.LogCritical(None, 5, None, None)
    assert logger.GetLogPriority() == tarn.TnLogLevelWarning
    assert sink.lines == [
        (tarn.TnLogLevelInfo, "a.py", 2, "f", "camera", "info"),
        (tarn.TnLogLevelWarning, "a.py", 4, "f", "camera", "warning"),
        (tarn.TnLogLevelCritical, None, 5, None, "camera", None),
    ]


def test_sink_called_from_an_sdk_thread(tarn, hooks, registered):
    sink = registered(make_recorder(tarn))
    hooks.DispatchLogFromThread(tarn.TnLogLevelError, "from the SDK")
    assert sink.lines == [(tarn.TnLogLevelError, "hooks.cpp", 7, "worker", "hooks", "from the SDK")]
    assert threading.get_ident() not in sink.threads


def test_raising_sink_reports_and_never_aborts(tarn, hooks, registered, capsys):
    class Failing(tarn.TnLogSink):
        def Log(self, *arguments):
            raise ValueError("bad line")

    failing = registered(Failing())
    recorder = registered(make_recorder(tarn))
    logger = tarn.TnLogger("t")
    assert logger.LogError("f", 1, "g", "first") is None  # no stale error: no SystemError
    hooks.DispatchLogFromThread(tarn.TnLogLevelError, "second")
    out = capsys.readouterr().out
    assert out.count("In method 'Log': ValueErrorbad line\n") == 2
    assert [line[5] for line in recorder.lines] == ["first", "second"]
    assert hooks.CallSinkFromThread(failing, 1, "third") is True


def test_each_report_line_is_one_write(tarn, hooks, registered, monkeypatch):
    """A report line and its end go out in one write, so that lines that
    threads write at once never join."""
    class Failing(tarn.TnLogSink):
        def Log(self, *arguments):
            raise ValueError(arguments[5])

    texts = []
    monkeypatch.setattr("sys.stdout", type("Writes", (), {"write": lambda self, text: texts.append(text),
                                                          "flush": lambda self: None})())
    registered(Failing())
    tarn.TnLogger("t").LogError("f", 1, "g", "first")
    hooks.DispatchLogFromThread(tarn.TnLogLevelError, "second")
    monkeypatch.undo()
    assert texts == ["In method 'Log': ValueErrorfirst\n", "In method 'Log': ValueErrorsecond\n"]


def test_forwarding_failures_reach_python_callers(tarn, base, hooks, capsys):
    class Upcalling(tarn.TnLogSink):
        def Log(self, *arguments):
            return super().Log(*arguments)

    sink = Upcalling()
    with pytest.raises(RuntimeError) as error:
        base.TnLogSink_Log(sink, 1, "a", 2, "b", "c", "d")
    assert str(error.value) == "SWIG director pure virtual method called TnLogSink::Log"
    # Through the SDK the pure-virtual error is reported as the override's failure.
    assert hooks.CallSinkFromThread(sink, 1, "x") is True
    assert capsys.readouterr().out == (
        "In method 'Log': RuntimeErrorSWIG director pure virtual method called TnLogSink::Log\n")


def test_missing_log_method(tarn, base, hooks):
    target = object()  # no Log at all
    sink = base.new_TnLogSink(target)
    try:
        assert hooks.CallSinkFromThread(sink, 1, "x") is True
    finally:
        base.delete_TnLogSink(sink)


def test_abstract_sink_needs_a_python_object(base):
    with pytest.raises(RuntimeError) as error:
        base.new_TnLogSink(None)
    assert str(error.value) == "accessing abstract class or protected constructor"


def test_log_argument_conversions(tarn, base):
    sink = make_recorder(tarn)
    with pytest.raises(TypeError, match="argument 2 of type 'TnLogLevelEnum'"):
        base.TnLogSink_Log(sink, "1", "a", 2, "b", "c", "d")
    with pytest.raises(OverflowError, match="argument 4 of type 'uint32_t'"):
        base.TnLogSink_Log(sink, 1, "a", -2, "b", "c", "d")
    with pytest.raises(TypeError, match="argument 7 of type 'char const \\*'"):
        base.TnLogSink_Log(sink, 1, "a", 2, "b", "c", 7)


def test_disown_keeps_the_python_sink_alive(tarn, base, hooks):
    sink = make_recorder(tarn)
    lines = sink.lines
    alive = weakref.ref(sink)
    base.disown_TnLogSink(sink)
    base.disown_TnLogSink(sink)  # a second call changes nothing
    pointer = sink.this
    del sink
    gc.collect()
    assert alive() is not None
    hooks.AddLogSink(pointer)
    try:
        hooks.DispatchLogFromThread(tarn.TnLogLevelInfo, "kept")
    finally:
        hooks.RemoveLogSink(pointer)
    assert [line[5] for line in lines] == ["kept"]
    base.delete_TnLogSink(pointer)
    gc.collect()
    assert alive() is None


def test_sinks_on_many_threads(tarn, hooks, registered):
    sink = registered(make_recorder(tarn))
    workers = [threading.Thread(target=hooks.DispatchLogFromThread, args=(tarn.TnLogLevelInfo, f"w{i}"))
               for i in range(8)]
    for worker in workers:
        worker.start()
    for worker in workers:
        worker.join()
    assert sorted(line[5] for line in sink.lines) == sorted(f"w{i}" for i in range(8))


def test_new_logger_takes_a_string(tarn, base):
    with pytest.raises(TypeError) as error:
        base.new_TnLogger(3)
    assert str(error.value) == "Argument 1: failed to create TnString from Python string"
    assert base.TnLogger_GetLogPriority(tarn.TnLogger(tarn.TnString("x"))) == tarn.TnLogLevelInfo


def test_a_log_file_that_cannot_be_opened_is_said_once(tmp_path):
    import subprocess
    import sys

    from children import child_env

    program = "import tarn_base_313 as t\nfor n in range(3): t.TnLogger('t').LogError('f', n, 'g', 'line')"
    missing, written = tmp_path / "no-such-folder" / "tarn.log", tmp_path / "tarn.log"
    answers = [subprocess.run([sys.executable, "-c", program], capture_output=True, text=True, timeout=60,
                              env=child_env({"TARN_LOG_FILE": str(path)})) for path in (missing, written)]
    # One line on standard error naming the file and the reason, for three
    # lines logged; a file that opens takes every line, and nothing is said.
    lines = answers[0].stderr.splitlines()
    assert len(lines) == 1 and str(missing) in lines[0] and "No such file or directory" in lines[0], lines
    assert answers[1].stderr == "" and written.read_text().count("] t: line (f:") == 3
