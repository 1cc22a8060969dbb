/* The same feature reads and writes through aravis's own client, for
 * comparison. Usage: arv_bench_device ADDRESS FEATURE COUNT */
#include <stdio.h>
#include <stdlib.h>

#include <arv.h>

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
    gint64 lSum = 0;
    double lRead = 0;
    double lWrite = 0;
    /* Reads and writes in alternating blocks, so that both meet the same load. */
    for (int lDone = 0; lDone < lRounds; lDone += lBlock)
    {
        gint64 lStart = g_get_monotonic_time();
        for (int lRound = 0; lRound < lBlock; ++lRound)
        {
            lSum += arv_device_get_integer_feature_value(lDevice, aArguments[2], &lError);
            if (lError != NULL)
            {
                fprintf(stderr, "read failed: %s\n", lError->message);
                return 1;
            }
        }
        lRead += (double)(g_get_monotonic_time() - lStart);
        lStart = g_get_monotonic_time();
        for (int lRound = 0; lRound < lBlock; ++lRound)
        {
            arv_device_set_integer_feature_value(lDevice, aArguments[2], lRound % 2 == 0 ? 256 : 512, &lError);
            if (lError != NULL)
            {
                fprintf(stderr, "write failed: %s\n", lError->message);
                return 1;
            }
        }
        lWrite += (double)(g_get_monotonic_time() - lStart);
    }
    const int lCount = (lRounds + lBlock - 1) / lBlock * lBlock;
    lRead /= lCount;
    lWrite /= lCount;
    printf("%.1f %.1f %lld\n", lRead, lWrite, (long long)(lSum % 10));
    g_object_unref(lDevice);
    return 0;
}
