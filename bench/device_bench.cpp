// Feature reads and writes over the control channel: our controller against a
// GigE Vision device (the fake camera of the benchmark), in microseconds per
// operation. Usage: tn_bench_device ADDRESS FEATURE COUNT
#include <stdio.h>
#include <stdlib.h>

#include <chrono>

#include "TnDeviceGEV.h"

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
    int64_t lSum = 0;
    double lRead = 0;
    double lWrite = 0;
    // Reads and writes in alternating blocks, so that both meet the same load.
    const int lBlock = 100;
    for (int lDone = 0; lDone < lRounds; lDone += lBlock)
    {
        auto lStart = std::chrono::steady_clock::now();
        for (int lRound = 0; lRound < lBlock; ++lRound)
        {
            lFeatures.InvalidateCache(); // every read goes to the device
            if (!lFeatures.GetIntegerValue(lFeature, lValue).IsOK())
            {
                fprintf(stderr, "read failed\n");
                return 1;
            }
            lSum += lValue;
        }
        lRead += std::chrono::duration<double, std::micro>(std::chrono::steady_clock::now() - lStart).count();
        lStart = std::chrono::steady_clock::now();
        for (int lRound = 0; lRound < lBlock; ++lRound)
        {
            if (!lFeatures.SetIntegerValue(lFeature, lRound % 2 == 0 ? 256 : 512).IsOK())
            {
                fprintf(stderr, "write failed\n");
                return 1;
            }
        }
        lWrite += std::chrono::duration<double, std::micro>(std::chrono::steady_clock::now() - lStart).count();
    }
    const int lCount = (lRounds + lBlock - 1) / lBlock * lBlock;
    lRead /= lCount;
    lWrite /= lCount;
    printf("%.1f %.1f %lld\n", lRead, lWrite, static_cast<long long>(lSum % 10));
    lDevice.Disconnect();
    return 0;
}
