// dumptool: runs the module's dump writer from the command line. Steps run
// left to right in one process, so the counter and the header suppression
// carry from one dump to the next as they do inside the module. Every step
// is checked (and every file read) before the first one runs.
#include <ctype.h>
#include <errno.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>
#include "../../src/diag/dump.h"

enum StepKind { STEP_COUNTER, STEP_DUMP };

struct Step {
    StepKind kind;
    LONG value;          // counter value, or the dump kind as given
    const char* text;    // --text of a counter step (or null); path of a dump
    BYTE* bytes;         // the file's contents, for a dump
    LONG count;
};

static const char usage[] =
    "usage: dumptool STEP [STEP ...]\n"
    "  --counter N [--text T]   call SetDumpCounter(N, T): set the row counter to N; a\n"
    "                           non-empty T only suppresses the next rows header (T\n"
    "                           itself is never written); without --text, T is null\n"
    "  KIND PATH                dump the bytes of file PATH with DumpMemory, titled PATH\n"
    "KIND: 0 rows, 1 rows continued, 2 vertical hex, 3 vertical hex continued,\n"
    "      4 vertical decimal, 5 vertical decimal continued (others write nothing).\n"
    "N and KIND are decimal or 0x hexadecimal, may be negative, and must fit 32 bits.\n"
    "Dumps are appended to \"ravodump\" in the current directory, only if it exists.\n";

// Returns 2 after printing message and a pointer to --help on stderr.
static int UsageError(const char* message, const char* detail)
{
    fprintf(stderr, "dumptool: %s%s\n(dumptool --help shows the usage)\n", message, detail);
    return 2;
}

// Returns true and the value in *out when text is a whole decimal or 0x
// hexadecimal number that fits 32 bits (signed or unsigned).
static bool ParseNumber(const char* text, LONG* out)
{
    const char* digits = text;
    bool negative = *digits == '-';
    if (negative)
        digits++;
    int base = 10;
    if (digits[0] == '0' && (digits[1] == 'x' || digits[1] == 'X')) {
        base = 16;
        digits += 2;
    }
    // strtoull would also take blanks and a second sign here.
    unsigned char first = (unsigned char)*digits;
    if (!(base == 16 ? isxdigit(first) : isdigit(first)))
        return false;
    char* end;
    errno = 0;
    unsigned long long magnitude = strtoull(digits, &end, base);
    if (errno != 0 || *end != '\0')
        return false;
    if (negative ? magnitude > 0x80000000ull : magnitude > 0xFFFFFFFFull)
        return false;
    *out = (LONG)(DWORD)(negative ? 0 - magnitude : magnitude);
    return true;
}

// Returns true and the file's bytes (a buffer of at least one byte, owned by
// the caller) when path can be read in full.
static bool ReadWholeFile(const char* path, BYTE** bytes, LONG* count)
{
    FILE* file = fopen(path, "rb");
    if (!file)
        return false;
    size_t size = 0, capacity = 4096;
    BYTE* buffer = (BYTE*)malloc(capacity);
    while (buffer) {
        size += fread(buffer + size, 1, capacity - size, file);
        if (size < capacity)
            break;
        capacity *= 2;
        BYTE* larger = (BYTE*)realloc(buffer, capacity);
        if (!larger)
            free(buffer);
        buffer = larger;
    }
    bool ok = buffer && !ferror(file) && size <= 0x7FFFFFFF;
    fclose(file);
    if (!ok) {
        free(buffer);
        return false;
    }
    *bytes = buffer;
    *count = (LONG)size;
    return true;
}

// Returns 0 after checking argv into steps, or 2 after a usage message.
static int ParseSteps(int argc, char** argv, Step* steps, int* stepCount)
{
    int n = 0;
    for (int i = 1; i < argc; n++) {
        Step* step = &steps[n];
        if (strcmp(argv[i], "--counter") == 0) {
            if (i + 1 >= argc)
                return UsageError("--counter needs a number N", "");
            if (!ParseNumber(argv[i + 1], &step->value))
                return UsageError("--counter: not a 32-bit number: ", argv[i + 1]);
            step->kind = STEP_COUNTER;
            step->text = 0;
            i += 2;
            if (i < argc && strcmp(argv[i], "--text") == 0) {
                if (i + 1 >= argc)
                    return UsageError("--text needs a text T", "");
                step->text = argv[i + 1];
                i += 2;
            }
            continue;
        }
        if (strcmp(argv[i], "--text") == 0)
            return UsageError("--text may only follow --counter N", "");
        if (strncmp(argv[i], "--", 2) == 0)
            return UsageError("unknown option: ", argv[i]);
        if (!ParseNumber(argv[i], &step->value))
            return UsageError("KIND is not a 32-bit number: ", argv[i]);
        if (i + 1 >= argc)
            return UsageError("a file PATH must follow KIND ", argv[i]);
        step->kind = STEP_DUMP;
        step->text = argv[i + 1];
        if (!ReadWholeFile(step->text, &step->bytes, &step->count))
            return UsageError("cannot read file: ", step->text);
        i += 2;
    }
    if (n == 0)
        return UsageError("no step given", "");
    *stepCount = n;
    return 0;
}

int main(int argc, char** argv)
{
    for (int i = 1; i < argc; i++) {
        if (strcmp(argv[i], "--help") == 0 || strcmp(argv[i], "-h") == 0) {
            fputs(usage, stdout);
            return 0;
        }
    }
    // A step takes at least one argument, so argc bounds the step count.
    Step* steps = (Step*)calloc(argc, sizeof(Step));
    int stepCount = 0;
    if (!steps)
        return UsageError("out of memory", "");
    int rc = ParseSteps(argc, argv, steps, &stepCount);
    if (rc != 0)
        return rc;
    if (GetFileAttributesA("ravodump") == INVALID_FILE_ATTRIBUTES)
        fputs("dumptool: no file \"ravodump\" in the current directory: nothing is "
              "written (create it to collect dumps)\n", stderr);
    for (int i = 0; i < stepCount; i++) {
        if (steps[i].kind == STEP_COUNTER)
            SetDumpCounter(steps[i].value, steps[i].text);
        else
            DumpMemory(steps[i].text, steps[i].bytes, steps[i].count, (DWORD)steps[i].value);
    }
    return 0;
}
