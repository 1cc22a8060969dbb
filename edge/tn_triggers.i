/* Triggers: the trigger selectors (not overridable; every call releases the
 * interpreter lock), the overridable trigger callback and the triggered
 * source as a Python base class. */

%{
#include "TnStreamingChannelSourceTrigger.h"
%}

/* Selectors. GetState of every selector is reached through the interface. */
%ignore TnTriggerSelectorDefault::GetState;

/* The trigger callback, overridable from Python. */
TN_EDGE_DIRECTOR(ITnTriggerCallback)
%nothreadallow ITnTriggerCallback::TriggerCallbackMethod;

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

%include "TnStreamingChannelSourceTrigger.h"
