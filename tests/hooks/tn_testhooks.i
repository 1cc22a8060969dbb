/* Test hooks: SDK internals the test suite drives directly. */
%module tn_testhooks

%include "tn_runtime.i"

%{
#include <thread>

#include "TnLog.h"
#include "TnLogDispatch.h"
#include "TnUint24.h"
%}

/* Opaque here: the proxies come from the modules under test. */
class TnLogSink;
struct uint24_t;

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
