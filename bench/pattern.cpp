// The repeating pattern every byte on the wire is taken from.
#include "bench.h"

char pattern[PATTERN_SIZE];

void FillPattern(void)
{
    unsigned long state = 12345;
    for (int i = 0; i < PATTERN_PERIOD; i++) {
        state = state * 1103515245u + 12345u;
        pattern[i] = (char)(state >> 16);
    }
    // The tail repeats the start so that any offset has a full write after
    // it; the tail is longer than the period's remainder, so byte by byte.
    for (int i = PATTERN_PERIOD; i < PATTERN_SIZE; i++)
        pattern[i] = pattern[i - PATTERN_PERIOD];
}

const char* PatternAt(unsigned long long offset)
{
    return pattern + offset % PATTERN_PERIOD;
}
