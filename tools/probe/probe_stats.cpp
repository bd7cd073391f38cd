// ravoprobe's summary of repeated timings, as ping prints it. Every figure
// is a nearest-rank percentile, so each one is a time actually measured.
#include "probe.h"
#include <stdio.h>
#include <stdlib.h>

static int CompareTimes(const void* a, const void* b)
{
    double x = *(const double*)a, y = *(const double*)b;
    return x < y ? -1 : x > y ? 1 : 0;
}

void SortTimes(double* ms, int n)
{
    qsort(ms, n, sizeof *ms, CompareTimes);
}

double NearestRank(const double* sorted, int n, int percent)
{
    int rank = (percent * n + 99) / 100;
    return sorted[(rank < 1 ? 1 : rank) - 1];
}

void PrintTimeSummary(const char* what, double* ms, int n)
{
    if (n <= 0)
        return;
    SortTimes(ms, n);
    printf("%s min / median / 95th percentile / max = %.2f / %.2f / %.2f / %.2f ms (nearest rank)\n", what,
           NearestRank(ms, n, 0), NearestRank(ms, n, 50), NearestRank(ms, n, 95), NearestRank(ms, n, 100));
}
