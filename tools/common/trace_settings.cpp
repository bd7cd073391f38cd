// The [Trace] settings. Only platform calls: the drop-in has no C runtime.
#include "trace_settings.h"
#include "ravowsok.h"

// A whole number of 0 or more from [Trace], else the fallback: a typo must
// not turn the bytes off or the limit into something else.
static LONG ReadCount(const char* key, LONG fallback)
{
    char text[16];
    GetPrivateProfileStringA(RAVO_TRACE_SECTION, key, "", text, sizeof text, RAVO_PROFILE_FILE);
    if (!text[0])
        return fallback;
    LONG value = 0;
    for (const char* c = text; *c; c++) {
        if (*c < '0' || *c > '9' || value > 100000000)
            return fallback;
        value = value * 10 + (*c - '0');
    }
    return value;
}

void ReadTraceSettings(TraceSettings* s)
{
    s->data = ReadCount(RAVO_KEY_TRACE_DATA, 0) != 0;
    s->dataBytes = ReadCount(RAVO_KEY_TRACE_DATA_BYTES, RAVO_TRACE_DATA_BYTES_DEFAULT);
    s->maxSizeMB = ReadCount(RAVO_KEY_TRACE_MAX_SIZE, RAVO_TRACE_MAX_SIZE_DEFAULT);
    s->stable = ReadCount(RAVO_KEY_TRACE_STABLE, 0) != 0;
}
