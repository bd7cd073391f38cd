// ravoprobe's summary of repeated timings, as ping prints it.
#include "probe.h"
#include <stdio.h>
#include <stdlib.h>

static int CompareTimes(const void* a, const void* b)
{
    double x = *(const double*)a, y = *(const double*)b;
    return x < y ? -1 : x > y ? 1 : 0;
}

void PrintTimeSummary(const char* what, double* ms, int n)
{
    if (n <= 0)
        return;
    qsort(ms, n, sizeof *ms, CompareTimes);
    double median = n % 2 ? ms[n / 2] : (ms[n / 2 - 1] + ms[n / 2]) / 2;
    int rank95 = (95 * n + 99) / 100;  // nearest rank: the smallest covering 95 %
    printf("%s min / median / 95th percentile / max = %.2f / %.2f / %.2f / %.2f ms\n", what, ms[0], median,
           ms[rank95 - 1], ms[n - 1]);
}
