// Nearest-rank percentiles (percentiles.h).
#include "percentiles.h"
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
