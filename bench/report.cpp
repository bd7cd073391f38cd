// Medians, spreads and ratios of a run, for the console and for the README.
#include "bench.h"
#include "percentiles.h"
#include <stdio.h>
#include <string.h>

struct Spread {
    double median, q1, q3, min, max;
};

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
    SortTimes(sorted, n);
    Spread s = {Quantile(sorted, n, 0.5), Quantile(sorted, n, 0.25), Quantile(sorted, n, 0.75), sorted[0],
                sorted[n - 1]};
    return s;
}

static const char* const workloadName[WORKLOAD_COUNT] = {"round trip, 1 byte", "round trip, 64 bytes",
                                                         "bulk send, 64 KiB writes", "bulk read, 8 KiB reads"};

static bool IsBulk(Workload w)
{
    return w == BULK_SENDS || w == BULK_READS;
}

static const char* Unit(Workload w)
{
    return IsBulk(w) ? "MB/s" : "us";
}

// The figure shown for one round: microseconds per round trip, or MB/s
// (10^6 bytes per second) for bulk.
static double Figure(const Results* r, Workload w, double cost)
{
    if (IsBulk(w))
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
    if (ref < 0 || !Chosen(c) || !Chosen(ref))
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
        printf("%s (%s)\n", workloadName[w], IsBulk((Workload)w) ? "MB/s" : "us per round trip");
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

// Bytes a row moved in all rounds, the warm-up with them: both ways of each
// round trip, one way of each bulk transfer.
static double BytesMoved(const Results* r, int c)
{
    double perRound = 0;
    for (int w = 0; w < WORKLOAD_COUNT; w++)
        if (Runs(c, (Workload)w))
            perRound += IsBulk((Workload)w) ? r->bulkBytes : 2.0 * r->roundTrips * (w == ROUND_TRIP_1 ? 1 : 64);
    return perRound * (r->rounds + 1);
}

static void PrintTraceSizes(const Results* r)
{
    bool any = false;
    for (int c = 0; c < contenderCount; c++) {
        if (!r->traceBytes[c])
            continue;
        if (!any)
            printf("\n| Trace of | size, MB | bytes of trace per byte moved |\n|---|---|---|\n");
        any = true;
        printf("| %s | %.1f | %.2f |\n", contenders[c].name, r->traceBytes[c] / 1e6,
               r->traceBytes[c] / BytesMoved(r, c));
    }
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
    printf("%d rounds (after one warm-up round) of %d round trips per size and %lu MiB of bulk each way, "
           "contenders interleaved; %.1f s in all\n",
           r->rounds, r->roundTrips, r->bulkBytes >> 20, r->totalSeconds);
    printf("load average (1, 5, 15 min): %s at the start, %s at the end\n\n", r->loadBefore, r->loadAfter);
    PrintConsoleFigures(r);

    static const char* const costName[COST_COUNT] = {
        "select, 10 us, socket not ready", "select, 10 us, socket ready",
        "keyboard and mouse hooks on and off (4 calls)", "PeekMessageA, empty queue"};
    printf("The wait's platform calls on their own (us per call, mean of 2000):\n");
    for (int k = 0; k < COST_COUNT; k++)
        printf("  %-46s %8.1f\n", costName[k], r->callCost[k]);
    printf("\n");

    printf("Markdown for the docs:\n\n");
    printf("Measured %s, Wine %s, %lu cores, load average %s at the start and %s at the end; block mode %d; %d "
           "rounds of %d round trips per size and %lu MiB of bulk each way; medians with quartiles in brackets.\n\n",
           date, wine, system.dwNumberOfProcessors, r->loadBefore, r->loadAfter, r->blockMode, r->rounds,
           r->roundTrips, r->bulkBytes >> 20);
    PrintTableHead("Contender", true);
    for (int c = 0; c < contenderCount; c++) {
        if (!Chosen(c))
            continue;
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
    PrintTraceSizes(r);
    printf("\n");
}

// A figure of each long wait of one contender, of one kind or of both.
static Spread WaitSpread(const LongWaits* w, int i, int kind, double (*figure)(const LongWait*))
{
    double values[WAIT_KINDS * MAX_WAITS];
    int n = 0;
    for (int k = 0; k < WAIT_KINDS; k++)
        for (int m = 0; m < w->waits && (kind < 0 || kind == k); m++)
            values[n++] = figure(&w->wait[k][i][m]);
    return Summarize(values, n);
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
        for (int p = 0; p < w->wait[POSTED][i][n].posts; p++)
            values[(*count)++] = w->wait[POSTED][i][n].postLatencyMs[p];
    Spread none = {0, 0, 0, 0, 0};
    return *count ? Summarize(values, *count) : none;
}

static void PrintCpuRow(const LongWaits* w, const char* what, int kind, double (*figure)(const LongWait*))
{
    printf("| %s |", what);
    for (int i = 0; i < w->waiters; i++) {
        Spread s = WaitSpread(w, i, kind, figure);
        printf(w->serverPid || figure == HostPercent ? " %.1f [%.1f-%.1f] |" : " not measured |", s.median, s.min,
               s.max);
    }
    printf("\n");
}

void PrintLongWaits(const LongWaits* w)
{
    printf("Long waits: %d of each kind per contender, %d ms each on a silent server, contenders taking turns; "
           "medians [min-max]. CPU in %% of one core, this process%s; late by: from the answer leaving the peer to "
           "the read's return, all waits; posted: a message every %d ms to a window of the waiting thread, from "
           "post to dispatch.\n\n",
           w->waits, w->holdMs, w->serverPid ? " and the prefix's wineserver" : " (no wineserver of this prefix found)",
           POST_INTERVAL_MS);
    printf("| Long wait |");
    for (int i = 0; i < w->waiters; i++)
        printf(" %s |", contenders[w->who[i]].name);
    printf("\n|---|");
    for (int i = 0; i < w->waiters; i++)
        printf("---|");
    printf("\n");
    PrintCpuRow(w, "CPU in silence, host process and wineserver, %", QUIET, BothPercent);
    PrintCpuRow(w, "of which the host process, %", QUIET, HostPercent);
    PrintCpuRow(w, "of which the wineserver, %", QUIET, ServerPercent);
    PrintCpuRow(w, "CPU with posted messages, host process and wineserver, %", POSTED, BothPercent);
    printf("| answer seen late by, ms |");
    for (int i = 0; i < w->waiters; i++) {
        Spread late = WaitSpread(w, i, -1, Late);
        printf(" %.2f [%.2f-%.2f] |", late.median, late.min, late.max);
    }
    printf("\n| posted message dispatched after, ms: median / longest (count) |");
    for (int i = 0; i < w->waiters; i++) {
        int count;
        Spread post = PostSpread(w, i, &count);
        if (count)
            printf(" %.2f / %.2f (%d) |", post.median, post.max, count);
        else
            printf(" none dispatched |");
    }
    printf("\n\n");
}
