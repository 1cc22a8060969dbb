"""Child programs of test_description_schema.py. The isolated fixture runs each
in a network namespace of its own: description_schema_child.py NAME [FOLDER]
(served_descriptions_validate writes the descriptions into FOLDER)."""

import child
from child import out


if child.NAME == "served_descriptions_validate":
    import pathlib
    import devices
    import tarn_edge_313 as edge
    folder = pathlib.Path(child.ARGUMENTS[0])

    def serve(name, sources=(), sink=None, user_sets=0):
        device = edge.TnSoftDeviceGEV()
        device.SetUserSetCount(user_sets)
        device.SetGenDCEnabled(True)
        device.SetRTPProtocolEnabled(True)
        if sink is not None:
            device.RegisterEventSink(sink)
        for source in sources:
            device.AddStream(source)
        started = device.Start(devices.LOOPBACK_MAC)
        out[name] = [started.GetCodeString(), started.GetDescription()]
        (folder / (name + ".xml")).write_text(device.GetGenICamXMLFile()[1] or "")
        device.Stop()
        if sink is not None:
            out[name].append([item for item, result in sink.results
                              if not (result[0] if isinstance(result, tuple) else result).IsOK()])

    serve("bare")
    serve("source", [devices.PatternSource(64, 48)])
    triggered = devices.TriggeredSource()
    acquisition = edge.TnTriggerSelectorAcquisitionStart()
    triggered.AddSelector(edge.TRIGGER_SELECTOR_ACQUISITIONSTART, acquisition)
    triggered.AddSource(edge.TRIGGER_SOURCE_USER, "User")
    serve("every kind", [triggered, devices.PatternSource(64, 48)], devices.EveryKindSink(), user_sets=2)


if child.NAME == "references_the_schema_cannot_admit":
    import devices
    import tarn_edge_313 as edge

    class Sink(devices.DeviceSink):
        def __init__(self, fault):
            super().__init__(features=True)
            self.fault = fault
        def OnCreateCustomGenApiFeatures(self, device, factory):
            super().OnCreateCustomGenApiFeatures(device, factory)
            factory.SetName("TarnFaulty")
            if self.fault == "selector":
                factory.AddSelected("TarnFloat")
            else:
                factory.SetPIsAvailable("TarnText")
            factory.AddVariable("TarnCommand")
            factory.CreateIntSwissKnife("TarnCommand + 1")

    for fault in ("selector", "availability"):
        device = edge.TnSoftDeviceGEV()
        device.RegisterEventSink(Sink(fault))
        started = device.Start(devices.LOOPBACK_MAC)
        out[fault] = [started.GetCodeString(), started.GetDescription()]
        device.Stop()
