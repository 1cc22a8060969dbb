/* Documentation strings of functions whose SDK declaration has no comment
 * of its own: an implementation documents the interface operation it
 * implements, and the statistics their counters. */

%feature("docstring") TnSoftDeviceGEV::TnSoftDeviceGEV "A software GigE Vision device, not started.";
%feature("docstring") TnSoftDeviceGEV::~TnSoftDeviceGEV "Stops the device and destroys it.";
%feature("docstring") TnSoftDeviceGEV::SetUserSetCount "The number of user sets besides the default one, at most 256, set before Start: TN_INVALID_PARAMETER above the maximum, TN_STATE_ERROR while running.";
%feature("docstring") TnSoftDeviceGEV::SetUserSetNotify "The user-set notification (null: none). Held by address.";
%feature("docstring") TnSoftDeviceGEV::SetActionHandler "The action handler (null: action commands are not acknowledged). Held by address.";
%feature("docstring") TnSoftDeviceGEV::RegisterEventSink "Allowed before Start: TN_INVALID_PARAMETER for no sink or one already registered, TN_STATE_ERROR while running. Held by address.";
%feature("docstring") TnSoftDeviceGEV::UnregisterEventSink "Before Start and after Stop.";
%feature("docstring") TnSoftDeviceGEV::Start "Starts the device on the network interface with that MAC address (\"00:11:22:33:44:55\"; the loopback interface has 00:00:00:00:00:00): builds the registers and the GenICam description (calling the creation callbacks on this thread) and starts serving. Blocks until the device serves or failed. TN_STATE_ERROR when already running, TN_INVALID_PARAMETER for an invalid MAC address, TN_NOT_FOUND for no such interface, TN_GENICAM_XML_ERROR naming the feature for a description that cannot be built.";
%feature("docstring") TnSoftDeviceGEV::Stop "Stops serving, streaming included, and frees the sources' buffers. Blocks until the device's threads ended. TN_STATE_ERROR when not running.";
%feature("docstring") TnSoftDeviceGEV::GetInfo "Null before Start. It is there from the creation callbacks inside Start on, so that the identity and the XML header can be set before the description is built; identity strings set later reach the bootstrap registers at once.";
%feature("docstring") TnSoftDeviceGEV::GetRegisterMap "Null before Start; there from the creation callbacks inside Start on (an event sink finds its registers there to make features of them).";
%feature("docstring") TnSoftDeviceGEV::GetStatistics "Null while the device is not running.";
%feature("docstring") TnSoftDeviceGEV::GetMessagingChannel "Null while the device is not running.";
%feature("docstring") TnSoftDeviceGEV::GetGenICamXMLFile "The GenICam XML the device serves; after Start, whether it succeeded or failed (then what could be written); TN_STATE_ERROR before.";
%feature("docstring") TnSoftDeviceGEV::AddStream "Adds a stream channel served by aSource (held by address), before Start: TN_STATE_ERROR while running, TN_NOT_SUPPORTED when the maximum stream count (4) is reached, TN_INVALID_PARAMETER for no source.";
%feature("docstring") TnSoftDeviceGEV::SetTCPTransportEnabled "An experimental TCP transport beside UDP; not available yet: kept as a setting, TN_OK.";
%feature("docstring") TnSoftDeviceGEV::SetRTPProtocolEnabled "RTP selectable per stream channel; not available yet: kept as a setting, TN_OK.";
%feature("docstring") TnSoftDeviceGEV::SetGenDCEnabled "GenDC streaming, taken at the next Start: each GenDC source gets its GenDC manager, lays out its container and has a GenDCStreamingMode feature (Off, On; starting as the source tells); while it is On the source's buffers of the GenDC payload type go as GenDC blocks. TN_OK.";

%feature("docstring") TnStreamingChannelSourceDefault::GetWidth "The current image width.";
%feature("docstring") TnStreamingChannelSourceDefault::GetHeight "The current image height.";
%feature("docstring") TnStreamingChannelSourceDefault::GetOffsetX "The current image offset X.";
%feature("docstring") TnStreamingChannelSourceDefault::GetOffsetY "The current image offset Y.";
%feature("docstring") TnStreamingChannelSourceDefault::GetPixelType "The current pixel type.";
%feature("docstring") TnStreamingChannelSourceDefault::GetChunksSize "The size of the chunk data as configured: for each chunk 4 bytes of chunk identifier and 4 bytes of chunk length besides its data (one 64-byte chunk: 72).";
%feature("docstring") TnStreamingChannelSourceDefault::GetPayloadSize "The payload size; 0 lets the device infer it from width, height, pixel type and chunk size; any other value is used as it is, chunk data not added (for multi-part: the sum of the parts' maximum sizes plus chunk data).";
%feature("docstring") TnStreamingChannelSourceDefault::GetScanType "TnScanTypeArea for an area-scan source, TnScanTypeLine for a line-scan source.";
%feature("docstring") TnStreamingChannelSourceDefault::GetChunkModeActive "The master chunk mode; a source without chunks returns false.";
%feature("docstring") TnStreamingChannelSourceDefault::GetChunkEnable "Whether the chunk type aChunkID is enabled; a chunk is sent when both this and the master chunk mode are true.";
%feature("docstring") TnStreamingChannelSourceDefault::SetWidth "The device asks to change the width (a controller wrote the feature or its register); TN_OK accepts, an error code refuses.";
%feature("docstring") TnStreamingChannelSourceDefault::SetHeight "The same for the height.";
%feature("docstring") TnStreamingChannelSourceDefault::SetOffsetX "The same for offset X.";
%feature("docstring") TnStreamingChannelSourceDefault::SetOffsetY "The same for offset Y.";
%feature("docstring") TnStreamingChannelSourceDefault::SetPixelType "The same for the pixel type.";
%feature("docstring") TnStreamingChannelSourceDefault::SetChunkModeActive "Sets the master chunk mode.";
%feature("docstring") TnStreamingChannelSourceDefault::SetChunkEnable "Enables or disables one chunk type.";
%feature("docstring") TnStreamingChannelSourceDefault::OnOpen "The stream channel was opened towards aDestIP (dotted decimal) and aDestPort.";
%feature("docstring") TnStreamingChannelSourceDefault::OnClose "The stream channel was closed.";
%feature("docstring") TnStreamingChannelSourceDefault::OnStreamingStart "The controller asked the device to start streaming on this channel.";
%feature("docstring") TnStreamingChannelSourceDefault::OnStreamingStop "The controller asked the device to stop streaming on this channel.";
%feature("docstring") TnStreamingChannelSourceDefault::CreateRegisters "Adds the source's own registers; called inside the device's Start, before CreateGenApiFeatures. Several sources of one class need distinct register addresses. The default does nothing.";
%feature("docstring") TnStreamingChannelSourceDefault::CreateGenApiFeatures "Adds the source's own GenICam features, after CreateRegisters; a feature created by some sources is available only while the device's SourceSelector selects one of them. The default does nothing.";
%feature("docstring") TnStreamingChannelSourceDefault::IsPayloadTypeSupported "Whether the source can send buffers of that payload type; true for TnPayloadTypeMultiPart makes the device add its multi-part features. The default returns false.";
%feature("docstring") TnStreamingChannelSourceDefault::SetMultiPartAllowed "Whether the source may (not must) send multi-part data. The default does nothing.";
%feature("docstring") TnStreamingChannelSourceDefault::SetLargeLeaderTrailerEnabled "Whether multi-part data uses large leader and trailer packets, which allow more than 10 parts. The default does nothing.";
%feature("docstring") TnStreamingChannelSourceDefault::SetTestPayloadFormatMode "Puts the source into a test streaming mode for that payload type (used by validation tools); TnPayloadTypeNone returns it to normal operation. The default refuses with TN_NOT_SUPPORTED.";
%feature("docstring") TnStreamingChannelSourceDefault::AllocBuffer "Called by the device during its start, repeatedly: one new buffer per call, for acquisition and transmission, until the source has given as many as it wants to stream with, and then null. Each buffer is given once; a channel uses at most 64. A buffer given here stays in the device's use until FreeBuffer is called for it.";
%feature("docstring") TnStreamingChannelSourceDefault::FreeBuffer "Called when the device stops, once for each buffer AllocBuffer gave.";
%feature("docstring") TnStreamingChannelSourceDefault::~TnStreamingChannelSourceDefault "Destroys the source and the buffers it allocated.";

%feature("docstring") TnStreamingChannelSourceTrigger::OnStreamingStart "The controller asked the device to start streaming on this channel.";
%feature("docstring") TnStreamingChannelSourceTrigger::OnStreamingStop "The controller asked the device to stop streaming on this channel.";
%feature("docstring") TnStreamingChannelSourceTrigger::CreateRegisters "Adds the source's own registers; called inside the device's Start, before CreateGenApiFeatures. Several sources of one class need distinct register addresses. The default does nothing.";
%feature("docstring") TnStreamingChannelSourceTrigger::CreateGenApiFeatures "Adds the source's own GenICam features, after CreateRegisters; a feature created by some sources is available only while the device's SourceSelector selects one of them. The default does nothing.";
%feature("docstring") TnStreamingChannelSourceTrigger::PostRetrieveBufferProc "An advanced hook after a buffer was retrieved. The default does nothing.";
%feature("docstring") TnStreamingChannelSourceTrigger::PreRead "Before a read; the place to refresh the register's content. A result other than TN_OK fails the read.";
%feature("docstring") TnStreamingChannelSourceTrigger::PreWrite "Before a write is committed: the register already holds the new value. A result other than TN_OK refuses the write, and the register gets its former value back. A controller's refused write is answered with a GigE Vision error status: a code from 0x8001 to 0x8FFF is sent as it is, TN_INVALID_PARAMETER as invalid parameter (0x8002), TN_NOT_IMPLEMENTED and TN_NOT_SUPPORTED as not implemented (0x8001), TN_STATE_ERROR as access denied (0x8006), TN_BUSY as busy (0x8007) and any other code as generic error (0x8FFF). Other sinks of the register may still refuse: react to a new value in PostWrite.";
%feature("docstring") TnStreamingChannelSourceTrigger::Persist "A user set is being saved or loaded. A register whose value depends on selectors calls aStore->Persist once for each combination of its selectors (with a suffix naming the combination, the selectors set to it) and returns TN_OK. TN_NOT_IMPLEMENTED, the default, lets the device save and load the register's plain content; another code reports a failure.";
%feature("docstring") TnStreamingChannelSourceTrigger::~TnStreamingChannelSourceTrigger "Destroys the source.";
%feature("docstring") TnStreamingChannelSourceTrigger::TnStreamingChannelSourceTrigger "A triggered source of the stream channel mChannel, with its trigger registers at aRegisterBaseAddress (16 bytes).";

%feature("docstring") TnTriggerSelectorDefault::TnTriggerSelectorDefault "A selector named aName (\"N/A\" without it), disabled, source 0.";
%feature("docstring") TnTriggerSelectorDefault::~TnTriggerSelectorDefault "Destroys the selector.";
%feature("docstring") TnTriggerSelectorDefault::Start "Moves from Enabled to Armed; aHeight is the image height.";
%feature("docstring") TnTriggerSelectorDefault::Stop "Moves back to Enabled, so that a waiting acquisition loop is released without acquiring an image.";
%feature("docstring") TnTriggerSelectorDefault::FireTrigger "Fires a trigger signal towards Fired.";
%feature("docstring") TnTriggerSelectorDefault::Rearm "Moves from Fired to another state such as Armed (per-frame selectors); may do nothing for selectors that stay fired.";
%feature("docstring") TnTriggerSelectorDefault::SetMode "Sets the trigger mode (true enabled, false disabled).";
%feature("docstring") TnTriggerSelectorDefault::GetMode "The trigger mode.";
%feature("docstring") TnTriggerSelectorDefault::SetSource "Sets the trigger source index.";
%feature("docstring") TnTriggerSelectorDefault::GetSource "The trigger source index.";
%feature("docstring") TnTriggerSelectorDefault::GetName "The selector's name.";
%feature("docstring") TnTriggerSelectorDefault::IsEnabled "Whether the trigger is enabled (any state but Disabled).";
%feature("docstring") TnTriggerSelectorAcquisitionStart::TnTriggerSelectorAcquisitionStart "A selector named aName (\"AcquisitionStart\" without it), disabled, source 0.";
%feature("docstring") TnTriggerSelectorAcquisitionStart::~TnTriggerSelectorAcquisitionStart "Destroys the selector.";
%feature("docstring") TnTriggerSelectorAcquisitionStart::Start "Moves from Enabled to Armed; aHeight is the image height.";
%feature("docstring") TnTriggerSelectorAcquisitionStart::Stop "Moves back to Enabled, so that a waiting acquisition loop is released without acquiring an image.";
%feature("docstring") TnTriggerSelectorAcquisitionStart::FireTrigger "Fires a trigger signal towards Fired.";
%feature("docstring") TnTriggerSelectorFrameStart::TnTriggerSelectorFrameStart "A selector named aName (\"FrameStart\" without it), disabled, source 0.";
%feature("docstring") TnTriggerSelectorFrameStart::~TnTriggerSelectorFrameStart "Destroys the selector.";
%feature("docstring") TnTriggerSelectorFrameStart::FireTrigger "Fires a trigger signal towards Fired.";
%feature("docstring") TnTriggerSelectorFrameStart::Rearm "Moves from Fired to another state such as Armed (per-frame selectors); may do nothing for selectors that stay fired.";
%feature("docstring") TnTriggerSelectorLineStart::TnTriggerSelectorLineStart "A selector named aName (\"LineStart\" without it), disabled, source 0.";
%feature("docstring") TnTriggerSelectorLineStart::~TnTriggerSelectorLineStart "Destroys the selector.";
%feature("docstring") TnTriggerSelectorLineStart::Start "Moves from Enabled to Armed; aHeight is the image height.";
%feature("docstring") TnTriggerSelectorLineStart::FireTrigger "Fires a trigger signal towards Fired.";
%feature("docstring") TnTriggerSelectorLineStart::Rearm "Moves from Fired to another state such as Armed (per-frame selectors); may do nothing for selectors that stay fired.";
%feature("docstring") ITnTriggerCallback::TriggerCallbackMethod "A trigger was generated for aTriggerSelector; called on the source's thread, it must not block.";

%feature("docstring") ITnVirtualDeviceGEVStatistics::GetReadMemsReceived "GVCP read-memory commands (READMEM_CMD) received.";
%feature("docstring") ITnVirtualDeviceGEVStatistics::GetWriteMemsReceived "GVCP write-memory commands (WRITEMEM_CMD) received.";
%feature("docstring") ITnVirtualDeviceGEVStatistics::GetReadRegsReceived "GVCP read-register commands (READREG_CMD) received.";
%feature("docstring") ITnVirtualDeviceGEVStatistics::GetWriteRegsReceived "GVCP write-register commands (WRITEREG_CMD) received.";
%feature("docstring") ITnVirtualDeviceGEVStatistics::GetDiscoveriesReceived "GVCP discovery commands (DISCOVERY_CMD) received.";
%feature("docstring") ITnVirtualDeviceGEVStatistics::GetActionCommandsReceived "GVCP action commands (ACTION_CMD) received.";
%feature("docstring") ITnVirtualDeviceGEVStatistics::GetForceIpsReceived "GVCP force-IP commands (FORCEIP_CMD) received.";
%feature("docstring") ITnVirtualDeviceGEVStatistics::GetPacketResendRequestsReceived "GVCP packet-resend commands (PACKETRESEND_CMD) received.";
%feature("docstring") ITnVirtualDeviceGEVStatistics::GetPendingAcksIssued "GVCP pending acknowledgements (PENDING_ACK) issued.";
%feature("docstring") ITnVirtualDeviceGEVStatistics::GetEventsIssued "Messaging-channel event commands (EVENT_CMD) issued.";
%feature("docstring") ITnVirtualDeviceGEVStatistics::GetEventDatasIssued "Messaging-channel event-with-data commands (EVENTDATA_CMD) issued.";
%feature("docstring") ITnVirtualDeviceGEVStatistics::GetEventRetriesIssued "Retries issued for unacknowledged events.";
%feature("docstring") ITnVirtualDeviceGEVStatistics::GetSessionsOpened "Controller sessions opened.";
%feature("docstring") ITnVirtualDeviceGEVStatistics::GetSessionsClosed "Controller sessions closed.";
%feature("docstring") ITnVirtualDeviceGEVStatistics::GetGVSPTestPacketsIssued "GVSP test packets issued.";
%feature("docstring") ITnVirtualDeviceGEVStatistics::~ITnVirtualDeviceGEVStatistics "Virtual destructor.";
%feature("docstring") ITnVirtualDeviceGEVInfo::~ITnVirtualDeviceGEVInfo "Virtual destructor.";
%feature("docstring") ITnMessageChannel::~ITnMessageChannel "Virtual destructor.";
%feature("docstring") ITnVirtualDeviceGEVEventSink::~ITnVirtualDeviceGEVEventSink "Virtual destructor.";

/* What the device owns: deleting a proxy of it destroys nothing. */
%feature("docstring") ITnRegisterInfo::~ITnRegisterInfo "The register belongs to the device's register map: deleting its proxy destroys nothing.";
%feature("docstring") ITnRegister::~ITnRegister "The register belongs to the device's register map: deleting its proxy destroys nothing.";
%feature("docstring") ITnRegisterStore::~ITnRegisterStore "The store belongs to the device: deleting its proxy destroys nothing.";
%feature("docstring") ITnRegisterMap::~ITnRegisterMap "The register map belongs to the device: deleting its proxy destroys nothing.";
%feature("docstring") ITnRegisterFactory::~ITnRegisterFactory "The register factory belongs to the device: deleting its proxy destroys nothing.";
%feature("docstring") ITnGenApiFactory::~ITnGenApiFactory "The feature factory belongs to the device: deleting its proxy destroys nothing.";

/* Functions the wrapper generator makes without a declaration to document:
 * the context getter of both forms, and the disown_ functions of the
 * overridable register, source and trigger classes, which hand a Python
 * subclass's object to the SDK for good. Their texts are set as the module
 * starts. */
%init %{
    {
        static const char *const disown_text =
            "Gives the object to the SDK for good: its forwarding object keeps a reference to the Python object "
            "until the SDK object is destroyed, so that the SDK may call it after the program dropped its own "
            "references.";
        static const struct {
            const char *name;
            const char *text;
        } texts[] = {
            {"ITnRegisterInfo_GetContext", "The pointer given when the register was created, as a bare pointer "
                                           "object; None for none."},
            {"disown_ITnRegisterEventSink", disown_text},
            {"disown_ITnStreamingChannelSource", disown_text},
            {"disown_ITnSWStreamingChannelSource", disown_text},
            {"disown_TnStreamingChannelSourceDefault", disown_text},
            {"disown_ITnTriggerCallback", disown_text},
            {"disown_TnStreamingChannelSourceTrigger", disown_text},
        };
        for (PyMethodDef *method = SwigMethods; method->ml_name != NULL; ++method) {
            for (size_t i = 0; i < sizeof(texts) / sizeof(texts[0]); ++i) {
                if (method->ml_doc == NULL && strcmp(method->ml_name, texts[i].name) == 0) {
                    method->ml_doc = texts[i].text;
                }
            }
        }
    }
%}
