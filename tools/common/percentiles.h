// Nearest-rank percentiles, for the probe's timings and the trace report:
// every figure is a time actually measured, never a mean of two.
#pragma once

// Sorts n times ascending.
void SortTimes(double* ms, int n);
// The value at rank ceil(percent / 100 * n) of n sorted times (at least
// rank 1).
double NearestRank(const double* sorted, int n, int percent);
