// The bytes of a send or read as rows of 16, written with the call's line in
// one write. Formatted by hand: a bulk transfer runs through here, and
// wsprintfA per byte would cost more than the transfer.
#include "trace.h"

enum {
    ROW_BYTES = 16,
    ROW_CHARS = 8 + 8 + 2 + 3 * ROW_BYTES + 1 + ROW_BYTES + 2,  // indent and way, offset, hex, text, CR LF
    TAIL_CHARS = 96,                                            // "... N more bytes not shown"
};

static const char HEX[] = "0123456789abcdef";

// How many of count bytes are shown.
static LONG Shown(LONG count)
{
    return count < traceSettings.dataBytes ? count : traceSettings.dataBytes;
}

char* RowsBuffer(const TraceLine* line, LONG count, int* size)
{
    if (count <= 0)
        return (char*)line->text;
    LONG rows = (Shown(count) + ROW_BYTES - 1) / ROW_BYTES;
    *size = line->length + rows * ROW_CHARS + TAIL_CHARS;
    char* buffer = (char*)HeapAlloc(GetProcessHeap(), 0, *size);
    return buffer ? buffer : (char*)line->text;
}

// "    out 0010  ": the way the bytes went and the row's offset, with eight
// digits once offsets need more than four.
static char* RowStart(char* at, bool out, LONG offset, int digits)
{
    const char* way = out ? "    out " : "    in  ";
    for (int i = 0; i < 8; i++)
        *at++ = way[i];
    for (int shift = (digits - 1) * 4; shift >= 0; shift -= 4)
        *at++ = HEX[(offset >> shift) & 15];
    *at++ = ' ';
    *at++ = ' ';
    return at;
}

int AppendRows(char* buffer, int at, bool out, const BYTE* bytes, LONG count)
{
    LONG shown = Shown(count);
    int digits = shown > 0x10000 ? 8 : 4;
    char* end = buffer + at;
    for (LONG offset = 0; offset < shown; offset += ROW_BYTES) {
        LONG inRow = shown - offset < ROW_BYTES ? shown - offset : (LONG)ROW_BYTES;
        end = RowStart(end, out, offset, digits);
        for (LONG i = 0; i < ROW_BYTES; i++) {
            BYTE b = bytes[offset + i < shown ? offset + i : 0];
            end[0] = i < inRow ? HEX[b >> 4] : ' ';
            end[1] = i < inRow ? HEX[b & 15] : ' ';
            end[2] = ' ';
            end += 3;
        }
        *end++ = ' ';
        for (LONG i = 0; i < inRow; i++) {
            BYTE b = bytes[offset + i];
            *end++ = b >= 0x20 && b < 0x7f ? (char)b : '.';
        }
        *end++ = '\r';
        *end++ = '\n';
    }
    if (shown < count)
        end += wsprintfA(end, "    ... %ld more bytes not shown (%s=%ld)\r\n", count - shown, RAVO_KEY_TRACE_DATA_BYTES,
                         traceSettings.dataBytes);
    return (int)(end - buffer);
}
