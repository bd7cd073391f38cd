// The [Trace] settings of the profile, read alike by the tracing drop-in and
// by ravoprobe settings.
#pragma once
#include <windows.h>

struct TraceSettings {
    bool data;       // Data=1: the bytes of sends and reads
    LONG dataBytes;  // at most this many of them per call
    LONG maxSizeMB;  // 0: no limit
    bool stable;     // placeholders for what changes from run to run
};

// Reads Data, DataBytes, MaxSizeMB and Stable; a value that is not a whole
// number of 0 or more counts as the key's default.
void ReadTraceSettings(TraceSettings* s);
