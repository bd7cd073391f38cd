// The dump writer, linked in from its source (no export reaches it): exact
// bytes of each layout, the counter and header rules, appending to the
// trace file and never creating it, and a round-trip property over random
// blocks that decodes every line back into the bytes dumped.
#include <stdio.h>
#include <string.h>
#include <string>
#include "check.h"
#include "workfolder.h"
#include "../src/diag/dump.h"

// Writes "ravodump" afresh holding prefix and resets the writer's state.
// Returns false (after a failed check) when the file cannot be made.
static bool FreshTrace(const std::string& prefix = "")
{
    SetDumpCounter(0, NULL);
    if (!EnterWorkFolder("ravodump-test"))
        return false;
    return CHECK(WriteWholeFile("ravodump", prefix), "cannot create ravodump");
}

// Returns the whole trace file (empty when it does not exist).
static std::string ReadTrace(void)
{
    std::string text;
    ReadWholeFile("ravodump", &text);
    return text;
}

// Returns the bytes written as two-digit hex separated by spaces.
static std::string Hex(const char* digits)
{
    std::string bytes;
    unsigned value;
    int used;
    while (sscanf(digits, " %2x%n", &value, &used) == 1) {
        bytes += (char)value;
        digits += used;
    }
    return bytes;
}

static std::string Spaces(size_t n)
{
    return std::string(n, ' ');
}

// Returns text with control characters shown as \xNN, for messages.
static std::string Shown(const std::string& text)
{
    std::string shown;
    for (unsigned char c : text) {
        char piece[8];
        snprintf(piece, sizeof piece, c >= 0x20 && c < 0x7F ? "%c" : "\\x%02x", c);
        shown += piece;
    }
    return shown;
}

// Compares two byte strings; on a difference shows both. Returns equality.
static bool CheckText(const std::string& expected, const std::string& seen, const char* file,
                      int line)
{
    return CheckResult(expected == seen, file, line, "bytes",
                       "expected [%s] (%u bytes)\n    seen     [%s] (%u bytes)",
                       Shown(expected).c_str(), (unsigned)expected.size(), Shown(seen).c_str(),
                       (unsigned)seen.size());
}
#define CHECK_TEXT(expected, seen) CheckText((expected), (seen), __FILE__, __LINE__)

static const BYTE fiveBytes[] = {0x61, 0x62, 0x63, 0x00, 0xFF};

static BYTE fiveInImage[8];

// Returns true when address prints as six hex digits, as 0x12FE40 does.
static bool SixDigits(const void* address)
{
    DWORD_PTR value = (DWORD_PTR)address;
    return value >= 0x100000 && value < 0x1000000;
}

// Returns a copy of the five bytes at 0x12FE40 when that page can be had,
// else in the program's image when its address has six hex digits (so the
// header is as long as in the worked example), else null.
static BYTE* FiveBytesAtSixDigitAddress(void)
{
    BYTE* at = NULL;
    void* region = VirtualAlloc((void*)0x120000, 0x10000, MEM_RESERVE | MEM_COMMIT, PAGE_READWRITE);
    if (region)
        at = (BYTE*)region + 0xFE40;
    else if (SixDigits(fiveInImage))
        at = fiveInImage;
    for (int i = 0; at && i < 5; i++)
        at[i] = fiveBytes[i];
    return at;
}

TEST_CASE(RowsWorkedExampleIsByteExact)
{
    BYTE* data = FiveBytesAtSixDigitAddress();
    if (!CHECK(data, "no memory at an address of six hex digits") || !FreshTrace())
        return;
    char address[16];
    snprintf(address, sizeof address, "%lx", (unsigned long)(DWORD_PTR)data);
    std::string header = (DWORD_PTR)data == 0x12FE40
        ? Hex("0A 0D 44 55 4D 50 20 78 20 40 20 31 32 66 65 34 30 0A 0D")
        : Hex("0A 0D") + "DUMP x @ " + address + Hex("0A 0D");
    std::string expected = header +
        Hex("30 30 30 3A 20 36 31 20 36 32 20 36 33 20 30 30 20 66 66") + Spaces(9) +
        Spaces(1) + Spaces(24) +
        Spaces(3) + Hex("61 62 63 2E 2E") + Spaces(11) +
        Hex("0A 0D");
    DumpMemory("x", data, 5, DUMP_ROWS);
    std::string seen = ReadTrace();
    CHECK_EQ(93, seen.size(), "file growth");
    CHECK_TEXT(expected, seen);
    CHECK_EQ(16, dumpCounter, "dumpCounter");
    CHECK_EQ(FALSE, dumpHeaderSuppressed, "dumpHeaderSuppressed");
    if (data != fiveInImage)
        VirtualFree(data - 0xFE40, 0, MEM_RELEASE);
}

TEST_CASE(VerticalWorkedExampleIsByteExact)
{
    if (!FreshTrace())
        return;
    SetDumpCounter(0x333, NULL);
    std::string expected =
        Hex("0A 20 20 20 30 30 30 3A 09 61 62 63 2E 2E") + Spaces(59) +
        Hex("0A 20 20 20 20 20 20 3A 09 36 36 36 30 66") + Spaces(59) +
        Hex("0A 20 20 20 20 20 20 3A 09 31 32 33 30 66") + Spaces(59);
    DumpMemory("x", fiveBytes, 5, DUMP_VERT_HEX);
    std::string seen = ReadTrace();
    CHECK_EQ(219, seen.size(), "file growth");
    CHECK_TEXT(expected, seen);
    CHECK_EQ(64, dumpCounter, "dumpCounter");

    DumpMemory("x", fiveBytes, 5, DUMP_VERT_HEX_CONT);
    seen = ReadTrace().substr(219, 9);
    CHECK_TEXT(Hex("0A") + "000040:\t", seen);
}

TEST_CASE(AppendsAfterExistingBytes)
{
    std::string kept = "kept line\r\n\x01\x02 and more";
    if (!FreshTrace(kept))
        return;
    DumpMemory("t", fiveBytes, 5, DUMP_VERT_HEX);
    std::string once = ReadTrace();
    CHECK_EQ(kept.size() + 219, once.size(), "size after the first dump");
    CHECK_TEXT(kept, once.substr(0, kept.size()));
    // A shorter dump next must neither rewrite nor cut what is there.
    DumpMemory("t", fiveBytes, 1, DUMP_VERT_HEX);
    std::string twice = ReadTrace();
    CHECK_EQ(once.size() + 3 * 73, twice.size(), "size after the second dump");
    CHECK_TEXT(once, twice.substr(0, once.size()));
}

TEST_CASE(CountZeroAndBelow)
{
    for (LONG count : {0L, -1L, -100000L}) {
        if (!FreshTrace())
            return;
        SetDumpCounter(0x77, NULL);
        DumpMemory("empty", fiveBytes, count, DUMP_ROWS);
        std::string header = Hex("0A 0D") + "DUMP empty @ ";
        std::string seen = ReadTrace();
        CHECK(seen.compare(0, header.size(), header) == 0 && seen.size() > header.size() + 2 &&
                  seen.compare(seen.size() - 2, 2, Hex("0A 0D")) == 0 &&
                  seen.find('\n', 2) == seen.size() - 2,
              "count %ld: expected the header alone, seen [%s]", count, Shown(seen).c_str());
        CHECK_EQ(0, dumpCounter, "dumpCounter after DUMP_ROWS");

        FreshTrace();
        SetDumpCounter(0x77, "quiet");
        DumpMemory("empty", fiveBytes, count, DUMP_ROWS);
        CHECK_EQ(0, ReadTrace().size(), "bytes of a suppressed DUMP_ROWS");
        CHECK_EQ(0, dumpCounter, "dumpCounter");
        CHECK_EQ(FALSE, dumpHeaderSuppressed, "dumpHeaderSuppressed");

        for (DWORD kind = DUMP_ROWS_CONT; kind <= DUMP_VERT_DEC_CONT; kind++) {
            SetDumpCounter(99, NULL);
            DumpMemory("empty", fiveBytes, count, kind);
            bool resets = kind == DUMP_VERT_HEX || kind == DUMP_VERT_DEC;
            CHECK_EQ(resets ? 0 : 99, dumpCounter, "dumpCounter after an empty dump");
        }
        CHECK_EQ(0, ReadTrace().size(), "bytes of the empty dumps");
    }
}

TEST_CASE(KindsAbove5DoNothing)
{
    if (!FreshTrace())
        return;
    for (DWORD kind : {6UL, 7UL, 100UL, 0x80000000UL, 0xFFFFFFFFUL}) {
        SetDumpCounter(7, "s");
        DumpMemory("none", fiveBytes, 5, kind);
        CHECK_EQ(7, dumpCounter, "dumpCounter");
        CHECK_EQ(TRUE, dumpHeaderSuppressed, "dumpHeaderSuppressed");
    }
    CHECK_EQ(0, ReadTrace().size(), "bytes written");
}

TEST_CASE(HeaderSuppressedOnceThenBack)
{
    if (!FreshTrace())
        return;
    SetDumpCounter(0, "no header");
    DumpMemory("h", fiveBytes, 5, DUMP_ROWS);
    std::string first = ReadTrace();
    CHECK_EQ(74, first.size(), "one row, no header");
    CHECK_TEXT(std::string("000:"), first.substr(0, 4));
    CHECK_EQ(FALSE, dumpHeaderSuppressed, "dumpHeaderSuppressed");

    DumpMemory("h", fiveBytes, 5, DUMP_ROWS);
    CHECK_TEXT(Hex("0A 0D") + "DUMP h @ ", ReadTrace().substr(74, 11));

    // Empty and null texts suppress nothing.
    for (const char* text : {"", (const char*)NULL}) {
        FreshTrace();
        SetDumpCounter(0, text);
        CHECK_EQ(FALSE, dumpHeaderSuppressed, "dumpHeaderSuppressed");
        DumpMemory("h", fiveBytes, 5, DUMP_ROWS);
        CHECK_TEXT(Hex("0A 0D") + "DUMP h @ ", ReadTrace().substr(0, 11));
    }

    // DUMP_ROWS_CONT neither writes a header nor uses up the suppression.
    FreshTrace();
    SetDumpCounter(0, "x");
    DumpMemory("h", fiveBytes, 5, DUMP_ROWS_CONT);
    CHECK_EQ(TRUE, dumpHeaderSuppressed, "suppression after DUMP_ROWS_CONT");
    DumpMemory("h", fiveBytes, 5, DUMP_ROWS);
    std::string seen = ReadTrace();
    CHECK_EQ(2 * 74, seen.size(), "two rows, no header");
    CHECK_TEXT(std::string("000:"), seen.substr(74, 4));
}

TEST_CASE(CountersRunOnAndReset)
{
    if (!FreshTrace())
        return;
    SetDumpCounter(5, NULL);
    DumpMemory("c", fiveBytes, 5, DUMP_VERT_HEX_CONT);
    CHECK_TEXT(Hex("0A") + "000005:\t", ReadTrace().substr(0, 9));
    CHECK_EQ(69, dumpCounter, "dumpCounter");

    FreshTrace();
    SetDumpCounter(123, NULL);
    DumpMemory("c", fiveBytes, 5, DUMP_VERT_DEC_CONT);
    CHECK_TEXT(Hex("0A") + "000123:\t", ReadTrace().substr(0, 9));

    // DUMP_ROWS starts from 0 whatever was set; the rows that follow run on.
    FreshTrace();
    SetDumpCounter(0x40, "q");
    BYTE block[17] = {0};
    DumpMemory("c", block, 17, DUMP_ROWS);
    DumpMemory("c", block, 3, DUMP_ROWS_CONT);
    std::string rows = ReadTrace();
    CHECK_EQ(3 * 74, rows.size(), "three rows");
    CHECK_TEXT(std::string("000:010:020:"), rows.substr(0, 4) + rows.substr(74, 4) + rows.substr(148, 4));
    CHECK_EQ(0x30, dumpCounter, "dumpCounter");

    // The vertical kinds that reset start at 0; their _CONT kinds go on.
    FreshTrace();
    SetDumpCounter(500, NULL);
    DumpMemory("c", block, 10, DUMP_VERT_DEC);
    DumpMemory("c", block, 10, DUMP_VERT_DEC_CONT);
    DumpMemory("c", block, 10, DUMP_VERT_HEX);
    DumpMemory("c", block, 10, DUMP_VERT_HEX_CONT);
    std::string vert = ReadTrace();
    CHECK_TEXT(Hex("0A") + "  0000:\t", vert.substr(0, 9));
    CHECK_TEXT(Hex("0A") + "000050:\t", vert.substr(3 * 59, 9));
    CHECK_TEXT(Hex("0A") + "   000:\t", vert.substr(6 * 59, 9));
    CHECK_TEXT(Hex("0A") + "000040:\t", vert.substr(6 * 59 + 3 * 73, 9));
    CHECK_EQ(128, dumpCounter, "dumpCounter");
}

static const BYTE letters[] = "ABCDEFGHIJKLMNOPQ";
static const std::string rowEnd = Hex("0A 0D");

// Returns the rows DUMP_ROWS writes for the first count letters, no header.
static std::string RowsOfLetters(LONG count)
{
    FreshTrace();
    SetDumpCounter(0, "-");
    DumpMemory("r", letters, count, DUMP_ROWS);
    return ReadTrace();
}

TEST_CASE(RowCounts8And9And16And17)
{
    std::string full = "000: 41 42 43 44 45 46 47 48-49 4a 4b 4c 4d 4e 4f 50    ABCDEFGHIJKLMNOP";
    CHECK_EQ(72, full.size(), "row width in this test");
    CHECK_TEXT("000: 41 42 43 44 45 46 47 48" + Spaces(25) + "   ABCDEFGH" + Spaces(8) + rowEnd,
               RowsOfLetters(8));
    CHECK_TEXT("000: 41 42 43 44 45 46 47 48-49 " + Spaces(21) + "   ABCDEFGHI" + Spaces(7) + rowEnd,
               RowsOfLetters(9));
    CHECK_TEXT(full + rowEnd, RowsOfLetters(16));
    CHECK_TEXT(full + rowEnd + "010: 51" + Spaces(21) + Spaces(25) + "   Q" + Spaces(15) + rowEnd,
               RowsOfLetters(17));
    CHECK_EQ(32, dumpCounter, "dumpCounter after 17 bytes");
}

TEST_CASE(VerticalDecimalOf120Bytes)
{
    BYTE block[120];
    for (int i = 0; i < 120; i++)
        block[i] = (BYTE)(0x30 + i % 10);
    if (!FreshTrace())
        return;
    DumpMemory("v", block, 120, DUMP_VERT_DEC);
    std::string seen = ReadTrace();
    CHECK_EQ(9 * 59, seen.size(), "three blocks of three lines of 59");
    const char* labels[] = {"  0000", "  0050", "  0100"};
    for (int b = 0; b < 3 && seen.size() == 9 * 59; b++) {
        int columns = b < 2 ? 50 : 20;
        std::string chars, high, low;
        for (int i = 0; i < columns; i++) {
            chars += (char)block[50 * b + i];
            high += '3';
            low += (char)('0' + i % 10);
        }
        std::string pad = Spaces(50 - columns), blank = Hex("0A") + "      :\t";
        CHECK_TEXT(Hex("0A") + labels[b] + ":\t" + chars + pad, seen.substr(177 * b, 59));
        CHECK_TEXT(blank + high + pad, seen.substr(177 * b + 59, 59));
        CHECK_TEXT(blank + low + pad, seen.substr(177 * b + 118, 59));
    }
    CHECK_EQ(150, dumpCounter, "dumpCounter");
}

TEST_CASE(RowAt4096IsOneCharWider)
{
    static BYTE block[4100];
    if (!FreshTrace())
        return;
    SetDumpCounter(0, "-");
    DumpMemory("big", block, 4100, DUMP_ROWS);
    std::string seen = ReadTrace();
    CHECK_EQ(256 * 74 + 75, seen.size(), "256 rows of 74 and one of 75");
    if (seen.size() == 256 * 74 + 75) {
        CHECK_TEXT(std::string("ff0:"), seen.substr(255 * 74, 4));
        CHECK_TEXT(std::string("1000: 00 00 00 00"), seen.substr(256 * 74, 17));
        CHECK_TEXT(rowEnd, seen.substr(seen.size() - 2));
    }
    CHECK_EQ(0x1010, dumpCounter, "dumpCounter");
}

TEST_CASE(FullStopsInCharacterColumn)
{
    const BYTE odd[] = {0x09, 0x7F, 0x80, 0xFF, 0x20, 0x41, 0x00, 0x1F, 0x7E, 0x0A, 0x0D};
    if (!FreshTrace())
        return;
    SetDumpCounter(0, "-");
    DumpMemory("c", odd, sizeof odd, DUMP_ROWS);
    CHECK_TEXT("   .... A..~.." + Spaces(5) + rowEnd, ReadTrace().substr(53));
    FreshTrace();
    DumpMemory("c", odd, sizeof odd, DUMP_VERT_HEX);
    CHECK_TEXT(".... A..~.." + Spaces(53), ReadTrace().substr(9, 64));

    for (int v = 0; v < 256; v++) {
        BYTE byte = (BYTE)v;
        LONG shown = v >= 0x20 && v <= 0x7E ? v : '.';
        CHECK(DumpByteChar(0, &byte) == shown, "DumpByteChar(%02x) is %02lx", v,
              DumpByteChar(0, &byte));
        CHECK(DumpByteValue(0, &byte) == v, "DumpByteValue(%02x) is %ld", v, DumpByteValue(0, &byte));
        CHECK(DumpHighNibble(0, &byte) * 16 + DumpLowNibble(0, &byte) == v, "nibbles of %02x", v);
    }
}

TEST_CASE(TwoVerticalDumpsInARow)
{
    if (!FreshTrace())
        return;
    DumpMemory("a", fiveBytes, 3, DUMP_VERT_HEX);
    DumpMemory("b", fiveBytes + 3, 2, DUMP_VERT_HEX);
    std::string seen = ReadTrace();
    CHECK_EQ(2 * 219, seen.size(), "two dumps of three lines of 73");
    // The second starts with its label's LF right after the first's last
    // column; no CR appears anywhere in a vertical dump.
    CHECK_TEXT(Spaces(61) + Hex("0A") + "   000:\t.." + Spaces(62), seen.substr(219 - 61, 61 + 73));
    CHECK(seen.find('\r') == std::string::npos, "a CR in a vertical dump");
    CHECK_TEXT("0f" + Spaces(62), seen.substr(219 + 2 * 73 + 9));
}

TEST_CASE(HeaderCutAt1023Characters)
{
    if (!FreshTrace())
        return;
    std::string title(1500, 't');
    DumpMemory(title.c_str(), fiveBytes, 0, DUMP_ROWS);
    std::string seen = ReadTrace();
    CHECK_EQ(2 + 1023 + 2, seen.size(), "header of a 1,500-character title");
    CHECK_TEXT("DUMP " + std::string(1018, 't'), seen.substr(2, 1023));
}

// Returns the names of the files in the work folder, joined by spaces.
static std::string FilesInWorkDir(void)
{
    std::string names;
    WIN32_FIND_DATAA found;
    HANDLE find = FindFirstFileA("*", &found);
    if (find == INVALID_HANDLE_VALUE)
        return names;
    do {
        if (strcmp(found.cFileName, ".") && strcmp(found.cFileName, ".."))
            names += std::string(found.cFileName) + " ";
    } while (FindNextFileA(find, &found));
    FindClose(find);
    return names;
}

TEST_CASE(NoTraceFileWritesNothing)
{
    if (!FreshTrace())
        return;
    DeleteFileA("ravodump");
    SetDumpCounter(3, NULL);
    DumpMemory("n", letters, 17, DUMP_ROWS);
    CHECK_EQ(32, dumpCounter, "dumpCounter after DUMP_ROWS");
    DumpMemory("n", letters, 17, DUMP_ROWS_CONT);
    CHECK_EQ(64, dumpCounter, "dumpCounter after DUMP_ROWS_CONT");
    for (DWORD kind = DUMP_VERT_HEX; kind <= DUMP_VERT_DEC_CONT; kind++)
        DumpMemory("n", letters, 17, kind);
    CHECK_EQ(100, dumpCounter, "dumpCounter after the vertical dumps");
    std::string files = FilesInWorkDir();
    CHECK(files.empty(), "files in the work folder: %s", files.c_str());
}

// Random bytes from a fixed seed, so a failure repeats.
static DWORD randomState = 20240607;
static DWORD NextRandom(void)
{
    randomState = randomState * 1664525 + 1013904223;
    return randomState >> 8;
}

// Checks one rows dump of data[0..count) written from counter on, against
// its text out. Returns the counter after the dump.
static LONG CheckRows(const std::string& out, const BYTE* data, LONG count, LONG counter)
{
    size_t at = 0;
    for (LONG off = 0; off < count; off += 16, counter += 16) {
        char label[16];
        snprintf(label, sizeof label, "%03lx:", (unsigned long)counter);
        size_t width = strlen(label) + 68;
        // The row's own line end must stand right after 72 characters.
        if (counter < 0x1000 && !CHECK(out.compare(at + 72, 2, rowEnd) == 0,
                                       "row at %ld is not 72 characters and LF CR", off))
            return counter;
        std::string row = out.substr(at, width + 2);
        at += width + 2;
        std::string want = label;
        for (LONG i = off; i < off + 16; i++) {
            char item[8] = "   ";
            if (i < count)
                snprintf(item, sizeof item, i < off + 8 ? " %02x" : "%02x ", data[i]);
            if (i == off + 8)
                want += count > off + 8 ? "-" : " ";
            want += item;
        }
        want += "   ";
        for (LONG i = off; i < off + 16; i++)
            want += i >= count ? ' ' : data[i] >= 0x20 && data[i] < 0x7F ? (char)data[i] : '.';
        if (!CHECK_TEXT(want + rowEnd, row))
            return counter;
    }
    CHECK_EQ(out.size(), at, "bytes of the rows");
    return counter;
}

// Checks one vertical dump with n columns. Returns the counter after it.
static LONG CheckVertical(const std::string& out, const BYTE* data, LONG count, LONG counter,
                          DWORD kind)
{
    LONG n = kind <= DUMP_VERT_HEX_CONT ? 64 : 50;
    const char* labelFormat = kind == DUMP_VERT_HEX ? "\n   %03lx:\t"
                            : kind == DUMP_VERT_HEX_CONT ? "\n%06lx:\t"
                            : kind == DUMP_VERT_DEC ? "\n  %04ld:\t" : "\n%06ld:\t";
    size_t at = 0;
    for (LONG off = 0; off < count; off += n, counter += n) {
        char label[24];
        snprintf(label, sizeof label, labelFormat, counter);
        std::string lines[3] = {label, "\n      :\t", "\n      :\t"};
        for (LONG i = off; i < off + n; i++) {
            bool in = i < count;
            BYTE b = in ? data[i] : 0;
            lines[0] += !in ? ' ' : b >= 0x20 && b < 0x7F ? (char)b : '.';
            lines[1] += in ? "0123456789abcdef"[b >> 4] : ' ';
            lines[2] += in ? "0123456789abcdef"[b & 15] : ' ';
        }
        for (const std::string& line : lines) {
            bool fits = kind == DUMP_VERT_HEX ? counter < 0x1000 : kind == DUMP_VERT_DEC ? counter < 10000 : true;
            if (fits && !CHECK(line.size() == (size_t)(9 + n) && (out.size() == at + 9 + n ||
                                                              out[at + 9 + n] == '\n'),
                               "vertical line at %ld is not 9 + %ld characters", off, n))
                return counter;
            if (!CHECK_TEXT(line, out.substr(at, line.size())))
                return counter;
            at += line.size();
        }
    }
    CHECK_EQ(out.size(), at, "bytes of the vertical dump");
    return counter;
}

TEST_CASE(RandomBlocksDecodeBackInEveryKind)
{
    static BYTE block[4097];
    std::string lengths;
    for (LONG count = 0; count <= 301; count++) {
        LONG length = count == 301 ? 4097 : count;
        for (DWORD kind = 0; kind <= 6; kind++) {
            for (LONG i = 0; i < length; i++)
                block[i] = (BYTE)NextRandom();
            LONG start = (LONG)(NextRandom() % 0x600);
            bool quiet = NextRandom() & 1;
            if (!FreshTrace("prefix"))
                return;
            SetDumpCounter(start, quiet ? "quiet" : NULL);
            DumpMemory("rnd", block, length, kind);
            std::string out = ReadTrace().substr(6);
            LONG counter = start;
            if (kind == DUMP_ROWS && !quiet) {
                char header[64];
                snprintf(header, sizeof header, "\n\rDUMP rnd @ %lx\n\r", (unsigned long)(DWORD_PTR)block);
                if (!CHECK_TEXT(std::string(header), out.substr(0, strlen(header))))
                    return;
                out = out.substr(strlen(header));
            }
            if (kind == DUMP_ROWS || kind == DUMP_VERT_HEX || kind == DUMP_VERT_DEC)
                counter = 0;
            if (kind > DUMP_VERT_DEC_CONT)
                CHECK_EQ(0, out.size(), "bytes of a kind above 5");
            else if (kind <= DUMP_ROWS_CONT)
                counter = CheckRows(out, block, length, counter);
            else
                counter = CheckVertical(out, block, length, counter, kind);
            CHECK_EQ(counter, dumpCounter, "dumpCounter");
            if (FailuresInCurrentCase()) {
                printf("  at length %ld, kind %lu, start %ld\n", length, kind, start);
                return;
            }
        }
    }
}

int main(int argc, char** argv)
{
    return RunAllTests(argc, argv);
}
