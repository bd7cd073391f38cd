// The dump writer: appends readable dumps of memory blocks to the trace file
// "ravodump" in the current directory, when that file already exists. No
// export calls it; it is kept in the module for code inside it and for the
// dumptool program, which is built from the same source.
#pragma once
#include <windows.h>

// Layouts of DumpMemory. The plain kinds reset dumpCounter to 0, the _CONT
// kinds run on from where the last dump (or SetDumpCounter) left it.
enum DumpKind {
    DUMP_ROWS = 0,           // rows of 16 bytes, with a header
    DUMP_ROWS_CONT = 1,      // rows of 16 bytes, no header
    DUMP_VERT_HEX = 2,       // vertical blocks of 64 columns, hex labels
    DUMP_VERT_HEX_CONT = 3,
    DUMP_VERT_DEC = 4,       // vertical blocks of 50 columns, decimal labels
    DUMP_VERT_DEC_CONT = 5,
};

enum { DUMP_BUFFER_SIZE = 1024 };

// Item routine: a value derived from the byte at data[position].
typedef LONG (*DumpItem)(LONG position, const BYTE* data);

extern "C" {

extern LONG dumpCounter;           // label of the next row or block
extern BOOL dumpHeaderSuppressed;  // next DUMP_ROWS writes no header
extern char dumpBuffer[DUMP_BUFFER_SIZE];
// The trace file the writer appends to; NULL, as the module leaves it, is
// "ravodump" in the current directory. A program that builds the writer in
// may point it at a file of its own before its first dump.
extern const char* dumpFileName;

// Sets dumpCounter to value; suppresses the next DUMP_ROWS header when text
// is a non-empty text. Returns nothing and writes nothing.
void SetDumpCounter(LONG value, const char* text);

// Appends a dump of count bytes at address in the layout of kind (a
// DumpKind; any other value does nothing). Returns nothing.
void DumpMemory(const char* title, const void* address, LONG count, DWORD kind);

// Appends one segment: label, then slots items from start, blanks past end.
// Returns nothing; writes nothing when the trace file cannot be opened.
void WriteDumpSegment(const char* label, const BYTE* data, LONG start, LONG end, LONG slots,
                      const char* itemFormat, LONG itemWidth, DumpItem item);

// Returns the byte at data[position] as a number, 0 to 255.
LONG DumpByteValue(LONG position, const BYTE* data);
// Returns the byte when it is printable (0x20 to 0x7E), else a full stop.
LONG DumpByteChar(LONG position, const BYTE* data);
// Returns the byte's high hexadecimal digit, 0 to 15.
LONG DumpHighNibble(LONG position, const BYTE* data);
// Returns the byte's low hexadecimal digit, 0 to 15.
LONG DumpLowNibble(LONG position, const BYTE* data);

}
