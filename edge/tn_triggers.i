/* Triggers: the trigger selectors (not overridable; every call releases the
 * interpreter lock), the overridable trigger callback and the triggered
 * source as a Python base class. */

%{
#include "TnStreamingChannelSourceTrigger.h"
%}

/* Selectors. GetState of every selector is reached through the interface. */
%ignore TnTriggerSelectorDefault::GetState;

/* The trigger callback, overridable from Python. The selector it is handed
 * keeps the selector's owner (that the source keeps) alive, should the
 * callback replace it and keep the proxy. */
TN_EDGE_DIRECTOR(ITnTriggerCallback)
%nothreadallow ITnTriggerCallback::TriggerCallbackMethod;
%typemap(directorin) ITnTriggerSelector const *aTriggerSelector {
    $input = SWIG_NewPointerObj(SWIG_as_voidptr($1), $descriptor, 0);
    tn_keep_anchor($input, tn_held_wrapping($1));
}

/* The triggered source. The functions of its overridable operations keep the
 * interpreter lock; those that run its own operations directly (selectors,
 * sources, the mode, and the pre-queue step, which may wait for a trigger)
 * release it. */
TN_EDGE_DIRECTOR(TnStreamingChannelSourceTrigger)
%nothreadallow TnStreamingChannelSourceTrigger::OnStreamingStart;
%nothreadallow TnStreamingChannelSourceTrigger::OnStreamingStop;
%nothreadallow TnStreamingChannelSourceTrigger::PostRetrieveBufferProc;
%nothreadallow TnStreamingChannelSourceTrigger::FireTrigger;
%nothreadallow TnStreamingChannelSourceTrigger::CreateRegisters;
%nothreadallow TnStreamingChannelSourceTrigger::CreateGenApiFeatures;
%nothreadallow TnStreamingChannelSourceTrigger::PreRead;
%nothreadallow TnStreamingChannelSourceTrigger::PreWrite;
%nothreadallow TnStreamingChannelSourceTrigger::Persist;
%nothreadallow TnStreamingChannelSourceTrigger::CreateTriggerSelector;
%nothreadallow TnStreamingChannelSourceTrigger::CreateTriggerMode;
%nothreadallow TnStreamingChannelSourceTrigger::CreateTriggerSource;
%nothreadallow TnStreamingChannelSourceTrigger::CreateTriggerSoftware;

/* Its pre-queue step is always its own, and it never asks Python how many
 * buffers the transmitter uses: all the source allocated. */
%feature("nodirector") TnStreamingChannelSourceTrigger::PreQueueBufferProc;
%typemap(directorin) uint32_t &aNumBuffers {
    $1 = 0;
    return TnResult(TN_NOT_IMPLEMENTED);
}

/* Its protected operations (CreateTriggerSelector, CreateTriggerMode,
 * CreateTriggerSource, CreateTriggerSoftware): Python reaches the base
 * implementation of one only from inside the forwarded call of that very
 * operation, on the thread that runs it. Each forwarded call records itself
 * on its thread for as long as it runs, whatever way it ends; the module
 * function refuses a call that no such record allows (another thread, an
 * earlier call that failed before its Python method ran), and refuses null
 * objects, which the base implementation never receives. */
%{
#include <utility>
#include <vector>

namespace
{
thread_local std::vector<std::pair<const Swig::Director *, const char *> > tn_protected_calls;

class TnProtectedCall
{
public:
    TnProtectedCall() : mEntered(false) {}
    TnProtectedCall(const TnProtectedCall &) = delete;
    TnProtectedCall &operator=(const TnProtectedCall &) = delete;

    void Enter(const Swig::Director *aDirector, const char *aOperation)
    {
        tn_protected_calls.emplace_back(aDirector, aOperation);
        mEntered = true;
    }

    ~TnProtectedCall()
    {
        if (mEntered) {
            tn_protected_calls.pop_back();
        }
    }

private:
    bool mEntered;
};
} // namespace

/* The protected operation a module function calls ("CreateTriggerMode"),
 * or null for any other function. */
static const char *tn_protected_operation(const char *aFunction)
{
    static const char *const kOperations[] = {"CreateTriggerSelector", "CreateTriggerMode", "CreateTriggerSource",
                                              "CreateTriggerSoftware"};
    static const char kClass[] = "TnStreamingChannelSourceTrigger_";
    if (strncmp(aFunction, kClass, sizeof(kClass) - 1) != 0) {
        return NULL;
    }
    for (const char *operation : kOperations) {
        if (strcmp(aFunction + sizeof(kClass) - 1, operation) == 0) {
            return operation;
        }
    }
    return NULL;
}

/* Whether this thread runs the forwarded call of aOperation on aDirector. */
static bool tn_protected_call_open(const Swig::Director *aDirector, const char *aOperation)
{
    for (const auto &call : tn_protected_calls) {
        if (call.first == aDirector && strcmp(call.second, aOperation) == 0) {
            return true;
        }
    }
    return false;
}
%}
%typemap(directorin) ITnGenApiFactory *aFactory (TnCallProxy proxy, TnProtectedCall call) {
    $input = SWIG_NewPointerObj(SWIG_as_voidptr($1), $descriptor, 0);
    proxy.Hold($input);
    call.Enter(this, "$symname");
}
%typemap(check) ITnGenApiFactory *aFactory {
    if (const char *operation = tn_protected_operation("$symname")) {
        if (!tn_protected_call_open(SWIG_DIRECTOR_CAST(arg1), operation)) {
            PyErr_Format(PyExc_RuntimeError, "accessing protected member %s", operation);
            SWIG_fail;
        }
        if (arg2 == NULL) {
            %argument_nullref("ITnRegisterMap *", $symname, 2);
        }
        if ($1 == NULL) {
            %argument_nullref("$type", $symname, $argnum);
        }
    }
}

/* The source holds its selectors by address, one per index: it keeps each
 * one's owner (tn_lifetime.i) until another selector takes the index or the
 * source is destroyed, so that a selector Python dropped is never read at
 * the device's next Start or trigger. A callback leaves the source as it is
 * destroyed (the SDK's own doing); the proxy of a source keeps the callbacks
 * it was given, one per index, so that they go on being called. */
%exception TnStreamingChannelSourceTrigger::AddSelector {
    TN_GUARDED_ACTION
    tn_hold(arg1, reinterpret_cast<const void *>(static_cast<uintptr_t>(arg2)), swig_obj[2]);
}
TN_LENDING_HOLDER(TnStreamingChannelSourceTrigger, arg1)
%pythonappend TnStreamingChannelSourceTrigger::AddSelectorTriggerCallback %{
    self.__dict__.setdefault("_tn_callbacks", {})[aIndex] = aCallback
%}

%include "TnStreamingChannelSourceTrigger.h"

%clear ITnGenApiFactory *aFactory;
