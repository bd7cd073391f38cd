// dumptool.exe, run as a child process in a work folder of its own: usage
// errors stop it before any step, steps share the writer's state, and
// without a "ravodump" it says so and writes nothing.
#include <stdio.h>
#include <string.h>
#include <string>
#include "check.h"
#include "child.h"
#include "ravo.h"
#include "workfolder.h"

static const char* workDir;
static char toolPath[MAX_PATH];

// Enters a fresh work folder holding the input files, once; finds the tool
// beside this program. Returns false (after a failed check) on failure.
static bool Prepare(void)
{
    if (workDir)
        return true;
    lstrcpynA(toolPath, BuildPath("dumptool.exe"), sizeof toolPath);
    if (!CHECK(GetFileAttributesA(toolPath) != INVALID_FILE_ATTRIBUTES, "no %s", toolPath))
        return false;
    if (!(workDir = EnterWorkFolder("dumptool-test")))
        return false;
    return CHECK(WriteWholeFile("five.bin", std::string("abc\0\xff", 5)) && WriteWholeFile("empty.bin", ""),
                 "cannot write the input files");
}

struct ToolRun {
    DWORD exitCode;
    std::string out, err;
};

// Runs dumptool with arguments in the work folder, waiting at most 30 s.
// Returns its exit code and output; exit code CHILD_NOT_RUN when it did not run.
static ToolRun RunTool(const char* arguments)
{
    static Child child;
    RunChild(&child, toolPath, arguments, workDir, CHILD_SEPARATE, 30000);
    ToolRun run = {child.exitCode, child.text, child.errorText};
    return run;
}

TEST_CASE(UsageErrorsExit2BeforeAnyStep)
{
    if (!Prepare() || !CHECK(WriteWholeFile("ravodump", ""), "cannot make ravodump"))
        return;
    const char* bad[] = {
        "",                                // no step
        "--counter",                       // N missing
        "--counter x 0 five.bin",          // N not a number
        "--counter 12abc",                 // N with trailing junk
        "0",                               // PATH missing
        "rows five.bin",                   // KIND not a number
        "0 five.bin 0 no-such-file.bin",   // unreadable file after a good step
        "0 five.bin --text t",             // --text without --counter
        "--counter 1 --text",              // T missing
        "0 five.bin --bogus",              // unknown option
        "--counter 0x100000000 0 five.bin", // N past 32 bits
    };
    for (const char* arguments : bad) {
        ToolRun run = RunTool(arguments);
        CHECK(run.exitCode == 2, "dumptool %s: exit code %lu, expected 2", arguments, run.exitCode);
        CHECK(run.err.find("dumptool:") != std::string::npos, "dumptool %s: no message, stderr [%s]",
              arguments, run.err.c_str());
    }
    std::string written;
    ReadWholeFile("ravodump", &written);
    CHECK_EQ(0, written.size(), "bytes written by refused runs");
}

TEST_CASE(HelpPrintsUsage)
{
    if (!Prepare())
        return;
    ToolRun run = RunTool("--help");
    CHECK_EQ(0, run.exitCode, "exit code");
    CHECK(run.out.find("usage: dumptool STEP") != std::string::npos, "stdout [%s]", run.out.c_str());
}

TEST_CASE(StepsShareCounterAndSuppression)
{
    if (!Prepare() || !CHECK(WriteWholeFile("ravodump", "old"), "cannot make ravodump"))
        return;
    // Rows continued from 0x20; then a header suppressed once and back.
    ToolRun run = RunTool("--counter 0x20 1 five.bin 1 empty.bin 1 five.bin "
                          "--counter 7 --text quiet 0 five.bin 0 five.bin -1 five.bin 6 five.bin");
    CHECK_EQ(0, run.exitCode, "exit code");
    std::string seen;
    ReadWholeFile("ravodump", &seen);
    std::string header = std::string("\n\rDUMP five.bin @ ");
    size_t headerAt = 3 + 3 * 74;
    CHECK(seen.size() > headerAt + header.size() && seen.compare(0, 3, "old") == 0,
          "ravodump holds %u bytes", (unsigned)seen.size());
    if (FailuresInCurrentCase())
        return;
    CHECK(seen.compare(3, 4, "020:") == 0, "first row label [%s]", seen.substr(3, 4).c_str());
    CHECK(seen.compare(3 + 74, 4, "030:") == 0, "second row label [%s]", seen.substr(77, 4).c_str());
    CHECK(seen.compare(3 + 148, 4, "000:") == 0, "suppressed dump [%s]", seen.substr(151, 4).c_str());
    CHECK(seen.compare(headerAt, header.size(), header) == 0, "no header where the second DUMP_ROWS starts");
    size_t lineEnd = seen.find("\n\r", headerAt + 2);
    CHECK(lineEnd != std::string::npos && seen.size() == lineEnd + 2 + 74,
          "after the header one row, and nothing from kinds -1 and 6: %u bytes",
          (unsigned)seen.size());
}

TEST_CASE(NoTraceFileSaysSoAndExits0)
{
    if (!Prepare())
        return;
    DeleteFileA("ravodump");
    ToolRun run = RunTool("--counter 3 0 five.bin 2 five.bin");
    CHECK_EQ(0, run.exitCode, "exit code");
    CHECK(run.err.find("ravodump") != std::string::npos, "stderr [%s]", run.err.c_str());
    CHECK(GetFileAttributesA("ravodump") == INVALID_FILE_ATTRIBUTES, "ravodump was created");
}

int main(int argc, char** argv)
{
    return RunAllTests(argc, argv);
}
