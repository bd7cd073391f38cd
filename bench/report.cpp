// Medians, spreads and ratios of a run, for the console and for the README.
#include "bench.h"
#include <stdio.h>
#include <stdlib.h>
#include <string.h>

struct Spread {
    double median, q1, q3, min, max;
};

static int CompareDoubles(const void* a, const void* b)
{
    double x = *(const double*)a, y = *(const double*)b;
    return x < y ? -1 : x > y;
}

// Quantile by linear interpolation between the sorted values.
static double Quantile(const double* sorted, int n, double q)
{
    double at = q * (n - 1);
    int below = (int)at;
    if (below + 1 >= n)
        return sorted[n - 1];
    return sorted[below] + (at - below) * (sorted[below + 1] - sorted[below]);
}

static Spread Summarize(const double* values, int n)
{
    // Rounds, or the posts of every long wait of a contender.
    static double sorted[MAX_ROUNDS > MAX_WAITS * MAX_POSTS ? MAX_ROUNDS : MAX_WAITS * MAX_POSTS];
    for (int i = 0; i < n; i++)
        sorted[i] = values[i];
    qsort(sorted, n, sizeof sorted[0], CompareDoubles);
    Spread s = {Quantile(sorted, n, 0.5), Quantile(sorted, n, 0.25), Quantile(sorted, n, 0.75), sorted[0],
                sorted[n - 1]};
    return s;
}

static const char* const workloadName[WORKLOAD_COUNT] = {"round trip, 1 byte", "round trip, 64 bytes",
                                                         "bulk, 64 KiB writes"};

static const char* Unit(Workload w)
{
    return w == BULK ? "MB/s" : "us";
}

// The figure shown for one round: microseconds per round trip, or MB/s
// (10^6 bytes per second) for bulk.
static double Figure(const Results* r, Workload w, double cost)
{
    if (w == BULK)
        return r->bulkBytes / cost / 1e6;
    return cost / r->roundTrips * 1e6;
}

static Spread FigureSpread(const Results* r, Workload w, int c)
{
    double values[MAX_ROUNDS];
    for (int i = 0; i < r->rounds; i++)
        values[i] = Figure(r, w, r->cost[w][c][i]);
    return Summarize(values, r->rounds);
}

// A row's time ratio, round by round: the two ran side by side, so the
// machine's drift is the same in both. A floor's ratio is its reference's
// time over its own.
struct Ratio {
    int measured, reference;
};

static bool RatioOf(int c, Ratio* ratio)
{
    int ref = contenders[c].reference ? ContenderIndex(contenders[c].reference) : -1;
    if (ref < 0)
        return false;
    ratio->measured = contenders[c].floor ? ref : c;
    ratio->reference = contenders[c].floor ? c : ref;
    return true;
}

static bool BothRun(Ratio ratio, Workload w)
{
    return Runs(ratio.measured, w) && Runs(ratio.reference, w);
}

static Spread RatioSpread(const Results* r, Workload w, Ratio ratio)
{
    double values[MAX_ROUNDS];
    for (int i = 0; i < r->rounds; i++)
        values[i] = r->cost[w][ratio.measured][i] / r->cost[w][ratio.reference][i];
    return Summarize(values, r->rounds);
}

static void WineVersion(char* out, int size)
{
    typedef const char*(CDECL * VersionFn)(void);
    VersionFn version = (VersionFn)(void*)GetProcAddress(GetModuleHandleA("ntdll.dll"), "wine_get_version");
    snprintf(out, size, "%s", version ? version() : "not Wine");
}

static void PrintConsoleFigures(const Results* r)
{
    for (int w = 0; w < WORKLOAD_COUNT; w++) {
        printf("%s (%s)\n", workloadName[w], w == BULK ? "MB/s" : "us per round trip");
        printf("  %-12s %10s %21s %21s\n", "", "median", "quartiles", "min - max");
        for (int c = 0; c < contenderCount; c++) {
            if (!Runs(c, (Workload)w))
                continue;
            Spread s = FigureSpread(r, (Workload)w, c);
            printf("  %-12s %10.1f %10.1f - %-8.1f %10.1f - %-8.1f\n", contenders[c].name, s.median, s.q1, s.q3,
                   s.min, s.max);
        }
        for (int c = 0; c < contenderCount; c++) {
            Ratio ratio;
            if (!RatioOf(c, &ratio) || !BothRun(ratio, (Workload)w))
                continue;
            Spread s = RatioSpread(r, (Workload)w, ratio);
            char name[64];
            snprintf(name, sizeof name, "%s/%s", contenders[ratio.measured].name, contenders[ratio.reference].name);
            printf("  time ratio %-22s %6.3f  (quartiles %.3f - %.3f, min - max %.3f - %.3f)\n", name, s.median,
                   s.q1, s.q3, s.min, s.max);
        }
        if (r->handWaits[w])
            printf("  hand loop: %.2f polls per wait\n", (double)r->handPolls[w] / r->handWaits[w]);
        printf("\n");
    }
}

static void PrintTableHead(const char* first, bool units)
{
    printf("| %s |", first);
    for (int w = 0; w < WORKLOAD_COUNT; w++)
        printf(units ? " %s, %s |" : " %s |", workloadName[w], Unit((Workload)w));
    printf("\n|---|");
    for (int w = 0; w < WORKLOAD_COUNT; w++)
        printf("---|");
    printf("\n");
}

static void PrintCell(bool ran, Spread s, const char* format)
{
    if (!ran) {
        printf(" - |");
        return;
    }
    printf(" ");
    printf(format, s.median, s.q1, s.q3);
    printf(" |");
}

void PrintReport(const Results* r)
{
    SYSTEMTIME now;
    GetLocalTime(&now);
    SYSTEM_INFO system;
    GetSystemInfo(&system);
    char wine[64];
    WineVersion(wine, sizeof wine);
    char date[16];
    snprintf(date, sizeof date, "%04u-%02u-%02u", now.wYear, now.wMonth, now.wDay);

    printf("\nravobench %s, Wine %s, %lu cores, block mode %d (%s)\n", date, wine, system.dwNumberOfProcessors,
           r->blockMode, QuietBlockMode(r->blockMode) ? "quiet" : "pump");
    printf("%d rounds (after one warm-up round) of %d round trips per size and %lu MiB of bulk, "
           "contenders interleaved; %.1f s in all\n\n",
           r->rounds, r->roundTrips, r->bulkBytes >> 20, r->totalSeconds);
    PrintConsoleFigures(r);

    static const char* const costName[COST_COUNT] = {
        "select, 10 us, socket not ready", "select, 10 us, socket ready",
        "keyboard and mouse hooks on and off (4 calls)", "PeekMessageA, empty queue"};
    printf("The wait's platform calls on their own (us per call, mean of 2000):\n");
    for (int k = 0; k < COST_COUNT; k++)
        printf("  %-46s %8.1f\n", costName[k], r->callCost[k]);
    printf("\n");

    printf("Markdown for the docs:\n\n");
    printf("Measured %s, Wine %s, %lu cores; block mode %d; %d rounds, medians with quartiles in brackets.\n\n", date,
           wine, system.dwNumberOfProcessors, r->blockMode, r->rounds);
    PrintTableHead("Contender", true);
    for (int c = 0; c < contenderCount; c++) {
        printf("| %s |", contenders[c].name);
        for (int w = 0; w < WORKLOAD_COUNT; w++) {
            bool ran = Runs(c, (Workload)w);
            PrintCell(ran, ran ? FigureSpread(r, (Workload)w, c) : Spread{}, "%.1f [%.1f-%.1f]");
        }
        printf("\n");
    }
    printf("\nTime ratios of time per unit of work, round by round (above 1: the first one named is slower):\n\n");
    PrintTableHead("Time ratio", false);
    for (int c = 0; c < contenderCount; c++) {
        Ratio ratio;
        if (!RatioOf(c, &ratio))
            continue;
        printf("| %s / %s |", contenders[ratio.measured].name, contenders[ratio.reference].name);
        for (int w = 0; w < WORKLOAD_COUNT; w++) {
            bool ran = BothRun(ratio, (Workload)w);
            PrintCell(ran, ran ? RatioSpread(r, (Workload)w, ratio) : Spread{}, "%.3f [%.3f-%.3f]");
        }
        printf("\n");
    }
    printf("\n");
}

// Per long wait of one contender: a figure from its record.
static Spread WaitSpread(const LongWaits* w, int i, double (*figure)(const LongWait*))
{
    double values[MAX_WAITS];
    for (int n = 0; n < w->waits; n++)
        values[n] = figure(&w->wait[i][n]);
    return Summarize(values, w->waits);
}

static double HostPercent(const LongWait* w) { return w->hostCpu / w->seconds * 100; }
static double ServerPercent(const LongWait* w) { return w->serverCpu / w->seconds * 100; }
static double BothPercent(const LongWait* w) { return (w->hostCpu + w->serverCpu) / w->seconds * 100; }
static double Late(const LongWait* w) { return w->lateMs; }

// Every post dispatched during a contender's waits.
static Spread PostSpread(const LongWaits* w, int i, int* count)
{
    static double values[MAX_WAITS * MAX_POSTS];
    *count = 0;
    for (int n = 0; n < w->waits; n++)
        for (int p = 0; p < w->wait[i][n].posts; p++)
            values[(*count)++] = w->wait[i][n].postLatencyMs[p];
    Spread none = {0, 0, 0, 0, 0};
    return *count ? Summarize(values, *count) : none;
}

void PrintLongWaits(const LongWaits* w)
{
    bool server = w->serverPid != 0;
    printf("Long waits: %d per contender of %d ms on a silent server, taking turns; CPU in %% of one core "
           "(this process%s), medians [min-max]; a message posted every 23 ms, dispatch delay median and longest\n",
           w->waits, w->holdMs, server ? " and the prefix's wineserver" : "; no wineserver of this prefix found");
    printf("| Contender | CPU, host process | CPU, wineserver | CPU, both | late by, ms | posted message dispatched "
           "after, ms (median / longest, count) |\n");
    printf("|---|---|---|---|---|---|\n");
    for (int i = 0; i < w->waiters; i++) {
        Spread host = WaitSpread(w, i, HostPercent), both = WaitSpread(w, i, BothPercent);
        Spread serverCpu = WaitSpread(w, i, ServerPercent), late = WaitSpread(w, i, Late);
        int count;
        Spread post = PostSpread(w, i, &count);
        printf("| %s | %.1f%% [%.1f-%.1f] |", contenders[w->who[i]].name, host.median, host.min, host.max);
        if (server)
            printf(" %.1f%% [%.1f-%.1f] | %.1f%% [%.1f-%.1f] |", serverCpu.median, serverCpu.min, serverCpu.max,
                   both.median, both.min, both.max);
        else
            printf(" not measured | not measured |");
        printf(" %.2f [%.2f-%.2f] | %.2f / %.2f (%d) |\n", late.median, late.min, late.max, post.median, post.max,
               count);
    }
    printf("\n");
}
