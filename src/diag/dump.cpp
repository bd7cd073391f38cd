// The dump writer. Every piece (header, label, item, blank, line end) is
// formatted into dumpBuffer and appended at once; the trace file is opened
// and closed around each header, segment and row end, so no handle stays
// open and a crash loses nothing already written.
#include "dump.h"

// Nothing exported calls the writer: "used" keeps every entry point in the
// module (and under its own name in the linker's map, which a test reads).
#define DUMP_KEEP __attribute__((used))

DUMP_KEEP LONG dumpCounter = 0;
DUMP_KEEP BOOL dumpHeaderSuppressed = FALSE;
DUMP_KEEP char dumpBuffer[DUMP_BUFFER_SIZE];

static const char defaultTraceName[] = "ravodump";
const char* dumpFileName;
static const char twelveBlanks[] = "            ";
enum { MAX_BLANK = sizeof(twelveBlanks) - 1 };

// Row end is LF then CR, made by giving "%c%c" both of its values.
static const char lineEndFormat[] = "%c%c";
static const char headerFormat[] = "DUMP %s @ %x";
static const char vertBlankLabel[] = "\n      :\t";

// One label per kind, formatted with dumpCounter as its only value. The
// continued rows could not use "%c%c" as a label: with one value the
// second %c reads an argument never passed, and the first prints the
// counter's low byte as a control character. They take the same label as
// DUMP_ROWS, so a continued dump reads as more rows of the same listing and
// keeps the 72-character row.
static const char* const kindLabels[] = {
    "%03x:",          // DUMP_ROWS
    "%03x:",          // DUMP_ROWS_CONT
    "\n   %03lx:\t",  // DUMP_VERT_HEX
    "\n%06lx:\t",     // DUMP_VERT_HEX_CONT
    "\n  %4.4ld:\t",  // DUMP_VERT_DEC
    "\n%6.6ld:\t",    // DUMP_VERT_DEC_CONT
};

// Returns the trace file positioned at its end, or HFILE_ERROR when it does
// not exist or cannot be written; OF_WRITE never creates it.
static HFILE OpenTrace(void)
{
    HFILE file = _lopen(dumpFileName ? dumpFileName : defaultTraceName, OF_WRITE);
    if (file != HFILE_ERROR)
        _llseek(file, 0, FILE_END);
    return file;
}

// Appends the text now in dumpBuffer. A short write is ignored, as the
// writer reports nothing. An empty text is not written, since _lwrite of
// zero bytes sets the end of the file instead.
static void WriteBuffer(HFILE file)
{
    int length = lstrlenA(dumpBuffer);
    if (length > 0)
        _lwrite(file, dumpBuffer, length);
}

// Appends width spaces (at most twelve).
static void WriteBlank(HFILE file, LONG width)
{
    if (width > MAX_BLANK)
        width = MAX_BLANK;
    if (width < 0)
        width = 0;
    wsprintfA(dumpBuffer, "%s", twelveBlanks + MAX_BLANK - width);
    WriteBuffer(file);
}

// Appends LF CR.
static void WriteLineEnd(HFILE file)
{
    wsprintfA(dumpBuffer, lineEndFormat, 10, 13);
    WriteBuffer(file);
}

// Returns the smaller of a and b.
static LONG Min(LONG a, LONG b)
{
    return a < b ? a : b;
}

// Adds step to dumpCounter, wrapping instead of overflowing.
static void AdvanceCounter(LONG step)
{
    dumpCounter = (LONG)((DWORD)dumpCounter + (DWORD)step);
}

DUMP_KEEP LONG DumpByteValue(LONG position, const BYTE* data)
{
    return data[position];
}

DUMP_KEEP LONG DumpByteChar(LONG position, const BYTE* data)
{
    BYTE value = data[position];
    return value >= 0x20 && value <= 0x7E ? value : '.';
}

DUMP_KEEP LONG DumpHighNibble(LONG position, const BYTE* data)
{
    return data[position] >> 4;
}

DUMP_KEEP LONG DumpLowNibble(LONG position, const BYTE* data)
{
    return data[position] & 0x0F;
}

DUMP_KEEP void SetDumpCounter(LONG value, const char* text)
{
    dumpCounter = value;
    dumpHeaderSuppressed = text != 0 && text[0] != '\0';
}

DUMP_KEEP void WriteDumpSegment(const char* label, const BYTE* data, LONG start, LONG end,
                                LONG slots, const char* itemFormat, LONG itemWidth,
                                DumpItem item)
{
    HFILE file = OpenTrace();
    if (file == HFILE_ERROR)
        return;
    if (end > start) {
        wsprintfA(dumpBuffer, label, dumpCounter);
        WriteBuffer(file);
    } else {
        // No byte in this segment: the label's place stays blank, as wide
        // as its unformatted text, so the columns after it keep their place.
        WriteBlank(file, lstrlenA(label));
    }
    for (LONG i = start; i < start + slots; i++) {
        if (i < end) {
            wsprintfA(dumpBuffer, itemFormat, item(i, data));
            WriteBuffer(file);
        } else {
            WriteBlank(file, itemWidth);
        }
    }
    _lclose(file);
}

// Appends LF CR, the header line, LF CR. wsprintfA stops at 1,024 bytes,
// which cuts a very long title.
static void WriteHeader(const char* title, const void* address)
{
    HFILE file = OpenTrace();
    if (file == HFILE_ERROR)
        return;
    WriteLineEnd(file);
    wsprintfA(dumpBuffer, headerFormat, title, (DWORD)(DWORD_PTR)address);
    WriteBuffer(file);
    WriteLineEnd(file);
    _lclose(file);
}

// Appends rows of 16 bytes, each as hex in two halves and as characters.
static void DumpRows(const BYTE* data, LONG count, const char* label)
{
    for (LONG off = 0; off < count; off += 16) {
        LONG half = Min(off + 8, count);
        LONG full = Min(off + 16, count);
        WriteDumpSegment(label, data, off, half, 8, " %02x", 3, DumpByteValue);
        WriteDumpSegment("-", data, half, full, 8, "%02x ", 3, DumpByteValue);
        WriteDumpSegment("   ", data, off, full, 16, "%c", 1, DumpByteChar);
        AdvanceCounter(16);
        HFILE file = OpenTrace();
        if (file != HFILE_ERROR) {
            WriteLineEnd(file);
            _lclose(file);
        }
    }
}

// Appends blocks of n columns: characters, high digits, low digits, each
// line starting with its label's LF.
static void DumpVertical(const BYTE* data, LONG count, LONG n, const char* label)
{
    for (LONG off = 0; off < count; off += n) {
        LONG end = Min(off + n, count);
        WriteDumpSegment(label, data, off, end, n, "%c", 1, DumpByteChar);
        WriteDumpSegment(vertBlankLabel, data, off, end, n, "%x", 1, DumpHighNibble);
        WriteDumpSegment(vertBlankLabel, data, off, end, n, "%x", 1, DumpLowNibble);
        AdvanceCounter(n);
    }
}

DUMP_KEEP void DumpMemory(const char* title, const void* address, LONG count, DWORD kind)
{
    if (kind > DUMP_VERT_DEC_CONT)
        return;
    const BYTE* data = (const BYTE*)address;
    const char* label = kindLabels[kind];
    switch (kind) {
    case DUMP_ROWS:
        dumpCounter = 0;
        if (!dumpHeaderSuppressed)
            WriteHeader(title, address);
        dumpHeaderSuppressed = FALSE;
        DumpRows(data, count, label);
        break;
    case DUMP_ROWS_CONT:
        DumpRows(data, count, label);
        break;
    case DUMP_VERT_HEX:
    case DUMP_VERT_DEC:
        dumpCounter = 0;
        DumpVertical(data, count, kind == DUMP_VERT_HEX ? 64 : 50, label);
        break;
    default:
        DumpVertical(data, count, kind == DUMP_VERT_HEX_CONT ? 64 : 50, label);
        break;
    }
}
