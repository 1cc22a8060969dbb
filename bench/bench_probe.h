/* What a control-channel benchmark client measures around its timed loops,
 * shared by the C and C++ clients (bench/bench_device.py prints it): the wall
 * time, the process's CPU time (all its threads), its voluntary context
 * switches (each one a sleep and a wake-up), its involuntary ones (another
 * task, such as the device woken on this core, took the core) and the UDP
 * datagrams received in its network namespace (both ends of a round trip
 * count: 2 per read). */
#ifndef TN_BENCH_PROBE_H
#define TN_BENCH_PROBE_H

#include <stdio.h>
#include <string.h>
#include <sys/resource.h>
#include <time.h>

struct bench_probe
{
    double wall_us;
    double cpu_us;
    double sleeps;
    double preempted;
    double datagrams;
};

static double bench_udp_datagrams(void)
{
    /* /proc/net/snmp: a "Udp:" line of names, then one of values. */
    FILE *lFile = fopen("/proc/net/snmp", "r");
    char lNames[1024];
    char lValues[1024];
    double lResult = -1;
    if (lFile == NULL)
    {
        return lResult;
    }
    while (fgets(lNames, sizeof(lNames), lFile) != NULL)
    {
        if (strncmp(lNames, "Udp: ", 5) == 0 && fgets(lValues, sizeof(lValues), lFile) != NULL)
        {
            /* InDatagrams is the first counter. */
            sscanf(lValues + 5, "%lf", &lResult);
            break;
        }
    }
    fclose(lFile);
    return lResult;
}

static double bench_wall_us(void)
{
    struct timespec lNow;
    clock_gettime(CLOCK_MONOTONIC, &lNow);
    return (double)lNow.tv_sec * 1e6 + (double)lNow.tv_nsec / 1e3;
}

static void bench_usage(struct bench_probe *aProbe)
{
    struct rusage lUsage;
    getrusage(RUSAGE_SELF, &lUsage);
    aProbe->cpu_us = (double)(lUsage.ru_utime.tv_sec + lUsage.ru_stime.tv_sec) * 1e6 +
                     (double)(lUsage.ru_utime.tv_usec + lUsage.ru_stime.tv_usec);
    aProbe->sleeps = (double)lUsage.ru_nvcsw;
    aProbe->preempted = (double)lUsage.ru_nivcsw;
}

/* At the start of a timed loop: the counters first, the clock last, so that
 * reading them is outside the loop's time. */
static struct bench_probe bench_probe_begin(void)
{
    struct bench_probe lProbe;
    lProbe.datagrams = bench_udp_datagrams();
    bench_usage(&lProbe);
    lProbe.wall_us = bench_wall_us();
    return lProbe;
}

/* At its end: the clock first. */
static struct bench_probe bench_probe_end(void)
{
    struct bench_probe lProbe;
    lProbe.wall_us = bench_wall_us();
    bench_usage(&lProbe);
    lProbe.datagrams = bench_udp_datagrams();
    return lProbe;
}

/* aTotal += aEnd - aStart */
static void bench_probe_add(struct bench_probe *aTotal, struct bench_probe aStart, struct bench_probe aEnd)
{
    aTotal->wall_us += aEnd.wall_us - aStart.wall_us;
    aTotal->cpu_us += aEnd.cpu_us - aStart.cpu_us;
    aTotal->sleeps += aEnd.sleeps - aStart.sleeps;
    aTotal->preempted += aEnd.preempted - aStart.preempted;
    aTotal->datagrams += aEnd.datagrams - aStart.datagrams;
}

/* One line of key=value pairs per operation: "read_us=... read_cpu_us=...
 * read_sleeps=... read_preempted=... read_datagrams=... write_us=...". */
static void bench_probe_print(const struct bench_probe *aRead, const struct bench_probe *aWrite, int aCount)
{
    const struct bench_probe *lTotals[2] = {aRead, aWrite};
    const char *lNames[2] = {"read", "write"};
    for (int lIndex = 0; lIndex < 2; ++lIndex)
    {
        const char *lName = lNames[lIndex];
        const struct bench_probe *lTotal = lTotals[lIndex];
        printf("%s%s_us=%.2f %s_cpu_us=%.2f %s_sleeps=%.3f %s_preempted=%.3f %s_datagrams=%.3f", lIndex == 0 ? "" : " ",
               lName, lTotal->wall_us / aCount, lName, lTotal->cpu_us / aCount, lName, lTotal->sleeps / aCount, lName,
               lTotal->preempted / aCount, lName, lTotal->datagrams / aCount);
    }
    printf("\n");
}

#endif
