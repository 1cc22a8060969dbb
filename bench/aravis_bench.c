/* The same feature reads and writes through aravis's own client, for
 * comparison. Usage: arv_bench_device ADDRESS FEATURE COUNT */
#include <stdio.h>
#include <stdlib.h>

#include <arv.h>

#include "bench_probe.h"

int main(int aCount, char **aArguments)
{
    if (aCount != 4)
    {
        fprintf(stderr, "usage: %s ADDRESS FEATURE COUNT\n", aArguments[0]);
        return 2;
    }
    GError *lError = NULL;
    ArvDevice *lDevice = arv_open_device(aArguments[1], &lError);
    if (lDevice == NULL)
    {
        fprintf(stderr, "connect: %s\n", lError != NULL ? lError->message : "no device");
        return 1;
    }
    /* Every read goes to the device. */
    arv_device_set_register_cache_policy(lDevice, ARV_REGISTER_CACHE_POLICY_DISABLE);
    const int lRounds = atoi(aArguments[3]);
    const int lBlock = 100;
    struct bench_probe lRead = {0};
    struct bench_probe lWrite = {0};
    int lDone = 0;
    /* Reads and writes in alternating blocks, so that both meet the same load. */
    for (; lDone < lRounds; lDone += lBlock)
    {
        struct bench_probe lStart = bench_probe_begin();
        for (int lRound = 0; lRound < lBlock; ++lRound)
        {
            arv_device_get_integer_feature_value(lDevice, aArguments[2], &lError);
            if (lError != NULL)
            {
                fprintf(stderr, "read failed: %s\n", lError->message);
                return 1;
            }
        }
        bench_probe_add(&lRead, lStart, bench_probe_end());
        lStart = bench_probe_begin();
        for (int lRound = 0; lRound < lBlock; ++lRound)
        {
            arv_device_set_integer_feature_value(lDevice, aArguments[2], lRound % 2 == 0 ? 256 : 512, &lError);
            if (lError != NULL)
            {
                fprintf(stderr, "write failed: %s\n", lError->message);
                return 1;
            }
        }
        bench_probe_add(&lWrite, lStart, bench_probe_end());
    }
    bench_probe_print(&lRead, &lWrite, lDone);
    g_object_unref(lDevice);
    return 0;
}
