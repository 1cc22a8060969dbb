// Feature reads and writes over the control channel: our controller against a
// GigE Vision device (the fake camera of the benchmark), per operation: wall
// time, CPU time, sleeps and datagrams (bench_probe.h).
// Usage: tn_bench_device ADDRESS FEATURE COUNT
#include <stdio.h>
#include <stdlib.h>

#include "TnDeviceGEV.h"
#include "bench_probe.h"

int main(int aCount, char **aArguments)
{
    if (aCount != 4)
    {
        fprintf(stderr, "usage: %s ADDRESS FEATURE COUNT\n", aArguments[0]);
        return 2;
    }
    const TnString lFeature(aArguments[2]);
    const int lRounds = atoi(aArguments[3]);
    TnDeviceGEV lDevice;
    const TnResult lConnected = lDevice.Connect(TnString(aArguments[1]));
    if (!lConnected.IsOK())
    {
        fprintf(stderr, "connect: %s %s\n", lConnected.GetCodeString().GetAscii(),
                lConnected.GetDescription().GetAscii());
        return 1;
    }
    TnGenParameterArray &lFeatures = *lDevice.GetParameters();
    int64_t lValue = 0;
    bench_probe lRead = {};
    bench_probe lWrite = {};
    // Reads and writes in alternating blocks, so that both meet the same load.
    const int lBlock = 100;
    int lDone = 0;
    for (; lDone < lRounds; lDone += lBlock)
    {
        bench_probe lStart = bench_probe_begin();
        for (int lRound = 0; lRound < lBlock; ++lRound)
        {
            lFeatures.InvalidateCache(); // every read goes to the device
            if (!lFeatures.GetIntegerValue(lFeature, lValue).IsOK())
            {
                fprintf(stderr, "read failed\n");
                return 1;
            }
        }
        bench_probe_add(&lRead, lStart, bench_probe_end());
        lStart = bench_probe_begin();
        for (int lRound = 0; lRound < lBlock; ++lRound)
        {
            if (!lFeatures.SetIntegerValue(lFeature, lRound % 2 == 0 ? 256 : 512).IsOK())
            {
                fprintf(stderr, "write failed\n");
                return 1;
            }
        }
        bench_probe_add(&lWrite, lStart, bench_probe_end());
    }
    bench_probe_print(&lRead, &lWrite, lDone);
    lDevice.Disconnect();
    return 0;
}
