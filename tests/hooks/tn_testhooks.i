/* Test hooks: SDK internals the test suite drives directly. */
%module tn_testhooks

%include "tn_runtime.i"

%{
#include <thread>

#include "TnLog.h"
#include "TnLogDispatch.h"
#include "TnUint24.h"
#include "TnGenParameterArray.h"
#include "TnGenICamInternal.h"

#include <atomic>
#include <cstring>
#include <fstream>
#include <memory>
#include <sstream>
%}

/* Opaque here: the proxies come from the modules under test. */
class TnLogSink;
struct uint24_t;
class TnGenParameterArray;
class TnGenParameter;
class TnGenEventSink;

%inline %{
/* Registers a sink with the SDK's log registry. */
void AddLogSink(TnLogSink *aSink)
{
    tn::AddLogSink(aSink);
}

/* Unregisters a sink. */
void RemoveLogSink(TnLogSink *aSink)
{
    tn::RemoveLogSink(aSink);
}

/* Delivers one line to the registered sinks from a thread the SDK starts and
 * joins; returns whether the thread ran to its end. */
bool DispatchLogFromThread(int aLevel, const char *aMessage)
{
    std::string message = aMessage != NULL ? aMessage : "";
    std::thread worker([message, aLevel] {
        tn::DispatchLog(static_cast<TnLogLevelEnum>(aLevel), "hooks.cpp", 7, "worker", "hooks", message.c_str());
    });
    worker.join();
    return true;
}

/* Calls a sink's Log on a thread of the SDK, outside any registry, catching
 * what it throws; returns whether it threw. */
bool CallSinkFromThread(TnLogSink *aSink, int aLevel, const char *aMessage)
{
    std::string message = aMessage != NULL ? aMessage : "";
    bool threw = false;
    std::thread worker([&] {
        try {
            aSink->Log(static_cast<TnLogLevelEnum>(aLevel), "hooks.cpp", 9, "worker", "hooks", message.c_str());
        } catch (...) {
            threw = true;
        }
    });
    worker.join();
    return threw;
}
%}

%newobject MakeUint24;
%inline %{
/* A three-byte value holding the low 24 bits of aValue. */
uint24_t *MakeUint24(unsigned int aValue)
{
    return new uint24_t(static_cast<uint32_t>(aValue));
}

/* The value of three bytes, least significant first. */
unsigned int Uint24Value(const uint24_t *aValue)
{
    return aValue != NULL ? aValue->Get() : 0;
}
%}

/* GenICam: parameter arrays over memory, and what Python cannot build itself. */
%{
/* A parameter array built from a GenICam XML file over aPort; null when the
 * file does not load. */
TnGenParameterArray *LoadFile(const char *aPath, std::shared_ptr<tn::genicam::IPort> aPort)
{
    std::ifstream file(aPath != NULL ? aPath : "", std::ios::binary);
    std::stringstream text;
    text << file.rdbuf();
    TnResult result;
    return tn::genicam::CreateParameterArray(text.str(), std::move(aPort), result);
}

/* A device whose every register reads as zero, or, with a pattern, as a fixed
 * pseudo-random byte per address: the top byte of
 * address * 0x9E3779B97F4A7C15 + 0x632BE59BD9B4E019 (64-bit arithmetic).
 * Writes are accepted and forgotten. */
struct FillPort : tn::genicam::IPort
{
    explicit FillPort(bool aPattern) : mPattern(aPattern) {}
    TnResult Read(uint64_t aAddress, void *aData, size_t aLength) override
    {
        uint8_t *lBytes = static_cast<uint8_t *>(aData);
        for (size_t lIndex = 0; lIndex < aLength; ++lIndex)
        {
            lBytes[lIndex] = mPattern ? static_cast<uint8_t>(((aAddress + lIndex) * 0x9E3779B97F4A7C15ull +
                                                              0x632BE59BD9B4E019ull) >> 56)
                                      : 0;
        }
        return TnResult();
    }
    TnResult Write(uint64_t, const void *, size_t) override { return TnResult(); }
    bool mPattern;
};

%}

%newobject LoadParameterArray;
%newobject LoadZeroParameterArray;
%newobject LoadPatternParameterArray;
%inline %{
/* A parameter array built from a GenICam XML file over aPortSize bytes of
 * zeroed memory; null when the file does not load. */
TnGenParameterArray *LoadParameterArray(const char *aPath, unsigned int aPortSize)
{
    return LoadFile(aPath, std::make_shared<tn::genicam::MemoryPort>(aPortSize));
}

/* The same over a device whose every register reads as zero. */
TnGenParameterArray *LoadZeroParameterArray(const char *aPath)
{
    return LoadFile(aPath, std::make_shared<FillPort>(false));
}

/* The same over a device whose registers read the fixed pattern of FillPort. */
TnGenParameterArray *LoadPatternParameterArray(const char *aPath)
{
    return LoadFile(aPath, std::make_shared<FillPort>(true));
}

/* The result code and description of loading an XML text. */
unsigned int LoadParameterArrayCode(const char *aXml)
{
    TnResult result;
    delete tn::genicam::CreateParameterArray(aXml != NULL ? aXml : "", std::make_shared<tn::genicam::MemoryPort>(16), result);
    return result.GetCode();
}
%}

%nothread ParameterArrayWarnings;
%inline %{
/* The warnings the description of an array gave, as a list of str. */
PyObject *ParameterArrayWarnings(TnGenParameterArray *aArray)
{
    const std::vector<std::string> warnings = tn::genicam::GetWarnings(aArray);
    PyObject *list = PyList_New(0);
    for (const std::string &warning : warnings) {
        PyObject *text = PyUnicode_DecodeUTF8(warning.data(), static_cast<Py_ssize_t>(warning.size()), "replace");
        if (text == NULL || PyList_Append(list, text) < 0) {
            Py_XDECREF(text);
            Py_DECREF(list);
            return NULL;
        }
        Py_DECREF(text);
    }
    return list;
}
%}

%nothread WritePort;
%nothread ReadPort;
%inline %{
/* Writes bytes into the memory behind an array's device port. */
bool WritePort(TnGenParameterArray *aArray, unsigned int aAddress, PyObject *aBytes)
{
    char *data = NULL;
    Py_ssize_t length = 0;
    std::shared_ptr<tn::genicam::IPort> port = tn::genicam::GetDevicePort(aArray);
    if (!port || PyBytes_AsStringAndSize(aBytes, &data, &length) < 0) {
        PyErr_Clear();
        return false;
    }
    return port->Write(aAddress, data, static_cast<size_t>(length)).IsOK();
}

/* Reads bytes from the memory behind an array's device port. */
PyObject *ReadPort(TnGenParameterArray *aArray, unsigned int aAddress, unsigned int aLength)
{
    std::string data(aLength, '\0');
    std::shared_ptr<tn::genicam::IPort> port = tn::genicam::GetDevicePort(aArray);
    if (!port || !port->Read(aAddress, &data[0], aLength).IsOK()) {
        Py_RETURN_NONE;
    }
    return PyBytes_FromStringAndSize(data.data(), static_cast<Py_ssize_t>(data.size()));
}
%}

%{
/* An update sink that counts its notifications. */
class CountingSink : public TnGenEventSink
{
public:
    void OnParameterUpdate(TnGenParameter *) override { ++mUpdates; }
    std::atomic<int> mUpdates{0};
};
%}
%inline %{
TnGenEventSink *NewCountingSink()
{
    return new CountingSink;
}

int CountingSinkUpdates(TnGenEventSink *aSink)
{
    return aSink != NULL ? static_cast<CountingSink *>(aSink)->mUpdates.load() : -1;
}

void DeleteCountingSink(TnGenEventSink *aSink)
{
    delete static_cast<CountingSink *>(aSink);
}
%}

/* Raw byte memory for the register parameters. */
%nothread BytesAt;
%inline %{
uint8_t *NewBytes(unsigned int aSize)
{
    return new uint8_t[aSize]();
}

void DeleteBytes(uint8_t *aBytes)
{
    delete[] aBytes;
}

PyObject *BytesAt(uint8_t *aBytes, unsigned int aSize)
{
    return PyBytes_FromStringAndSize(reinterpret_cast<const char *>(aBytes), aSize);
}

void SetBytes(uint8_t *aBytes, unsigned int aOffset, unsigned int aValue)
{
    aBytes[aOffset] = static_cast<uint8_t>(aValue);
}
%}

/* A GigE Vision device played by our own responder on 127.0.0.1 (inside the
 * test's network namespace), for what the independent peer lacks: events on
 * the message channel. */
%{
#include "TnGvcpDevice.h"
#include "TnGvcpServer.h"

struct TestResponder
{
    std::unique_ptr<tn::gev::TnGvcpDevice> mDevice;
    tn::gev::TnGvcpServer mServer;
};
%}
struct TestResponder;
%nothread ResponderSendEvent;
%inline %{

/* Starts a device announcing aSerial, whose GenICam description is aXml;
 * null when the responder cannot listen. */
TestResponder *ResponderStart(const char *aSerial, const char *aXml)
{
    tn::gev::TnGvcpDeviceInfo info;
    info.mVersionMajor = 2;
    info.SetMacValue(0x0250C2004321ull);
    info.mCurrentIP = 0x7F000001;
    info.mSubnetMask = 0xFF000000;
    info.mManufacturerName = "TarnTest";
    info.mModelName = "Responder";
    info.mSerialNumber = aSerial != NULL ? aSerial : "";
    std::unique_ptr<TestResponder> responder(new TestResponder);
    responder->mDevice.reset(new tn::gev::TnGvcpDevice(info, 0x20000));
    const std::string xml = aXml != NULL ? aXml : "";
    if (!responder->mDevice->SetLocalXml("responder.xml", 0x8000, std::vector<uint8_t>(xml.begin(), xml.end())) ||
        !responder->mServer.Start(responder->mDevice.get(), 0x7F000001).IsOK()) {
        return NULL;
    }
    return responder.release();
}

void ResponderStop(TestResponder *aResponder)
{
    if (aResponder != NULL) {
        aResponder->mServer.Stop();
        delete aResponder;
    }
}

/* Sends an event with the bytes as its data (None: none) and waits for its
 * acknowledgement; the result code. */
unsigned int ResponderSendEvent(TestResponder *aResponder, unsigned int aEventId, unsigned int aBlockId,
                                PyObject *aData)
{
    char *data = NULL;
    Py_ssize_t length = 0;
    if (aResponder == NULL || (aData != Py_None && PyBytes_AsStringAndSize(aData, &data, &length) < 0)) {
        PyErr_Clear();
        return TN_INVALID_PARAMETER;
    }
    tn::gev::TnGvcpEvent event;
    event.mEventId = static_cast<uint16_t>(aEventId);
    event.mStreamChannel = 0xFFFF;
    event.mBlockId = static_cast<uint16_t>(aBlockId);
    event.mTimestamp = 123456789;
    const std::vector<uint8_t> bytes(data, data + length);
    TnResult result;
    Py_BEGIN_ALLOW_THREADS
    result = aResponder->mDevice->SendEvent(event, data != NULL ? bytes.data() : NULL, bytes.size());
    Py_END_ALLOW_THREADS
    return result.GetCode();
}
%}

/* GenDC: the send side's manager, which the software device hands to its
 * sources, made here on its own. */
%{
#include "TnGenDCContainer.h"
%}
class ITnGenDCManager;
%inline %{
ITnGenDCManager *NewGenDCManager()
{
    return new tn::buffer::GenDCManager;
}

void DeleteGenDCManager(ITnGenDCManager *aManager)
{
    delete static_cast<tn::buffer::GenDCManager *>(aManager);
}
%}

/* Calls in progress: a call that keeps a buffer in use for as long as a
 * test wants, and whether a call of another thread waits for a use. */
%{
#include <chrono>
#include <condition_variable>
#include <mutex>

static std::mutex tn_hold_mutex;
static std::condition_variable tn_hold_signal;
static unsigned tn_holds = 0;   // calls in HoldInCall
static uint64_t tn_hold_ends = 0; // EndHold calls
#include "TnBuffer.h"
%}
class TnBuffer;
%inline %{
/* Keeps aBuffer in use by this call, the interpreter lock released, until
 * EndHold is called or aLimitMs milliseconds pass: then the buffer's size as
 * it reads it, or -1 when the time ran out. */
int HoldInCall(TnBuffer *aBuffer, unsigned int aLimitMs)
{
    std::unique_lock<std::mutex> lock(tn_hold_mutex);
    const uint64_t ends = tn_hold_ends;
    ++tn_holds;
    const bool ended = tn_hold_signal.wait_for(lock, std::chrono::milliseconds(aLimitMs),
                                               [&] { return tn_hold_ends != ends; });
    --tn_holds;
    return ended && aBuffer != NULL ? static_cast<int>(aBuffer->GetSize()) : -1;
}

/* Calls aCallable (with the interpreter lock, as an SDK callback on the
 * calling thread would) from inside a call that uses aBuffer: what it
 * returns, or the exception it raised. */
PyObject *CallInCall(TnBuffer *aBuffer, PyObject *aCallable)
{
    (void)aBuffer;
    PyGILState_STATE state = PyGILState_Ensure();
    PyObject *result = PyObject_CallNoArgs(aCallable);
    if (result == NULL) {
        result = PyErr_GetRaisedException();
    }
    PyGILState_Release(state);
    return result;
}

/* As CallInCall, for a call whose record of its use of aBuffer lies away
 * from the thread's stack (as a call's locals do on a sanitizer's fake
 * stack, or on a stack a runtime switched to). */
PyObject *CallWithRecordAway(PyObject *aBuffer, PyObject *aCallable)
{
    PyGILState_STATE state = PyGILState_Ensure();
    std::unique_ptr<TnUse> use(new TnUse);
    PyObject *result = NULL;
    if (tn_use_begin(*use, tn_use_pointer(aBuffer), use.get())) {
        result = PyObject_CallNoArgs(aCallable);
    }
    if (result == NULL) {
        result = PyErr_GetRaisedException();
    }
    use.reset(); // unlinked with the lock held
    PyGILState_Release(state);
    return result;
}

/* Ends every HoldInCall in progress. */
void EndHold()
{
    {
        std::lock_guard<std::mutex> lock(tn_hold_mutex);
        ++tn_hold_ends;
    }
    tn_hold_signal.notify_all();
}

/* How many calls HoldInCall keeps. */
unsigned int Holds()
{
    std::lock_guard<std::mutex> lock(tn_hold_mutex);
    return tn_holds;
}

/* Whether a call of some thread waits for another thread's use of an
 * object (tn_uses.i). */
bool UseWaited()
{
    for (TnUse *use = tn_uses->mHead; use != NULL; use = use->mNext) {
        if (use->mFlags & kTnUseWaited) {
            return true;
        }
    }
    return false;
}
%}
