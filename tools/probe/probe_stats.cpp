// ravoprobe's summary of repeated timings, as ping prints it. Every figure
// is a nearest-rank percentile, so each one is a time actually measured.
#include "probe.h"
#include <stdio.h>

void PrintTimeSummary(const char* what, double* ms, int n)
{
    if (n <= 0)
        return;
    SortTimes(ms, n);
    printf("%s min / median / 95th percentile / max = %.2f / %.2f / %.2f / %.2f ms (nearest rank)\n", what,
           NearestRank(ms, n, 0), NearestRank(ms, n, 50), NearestRank(ms, n, 95), NearestRank(ms, n, 100));
}
