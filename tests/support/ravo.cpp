// Module loading, the host record and the profile file for tests.
#include "ravo.h"
#include "check.h"
#include "intercept.h"
#include <stdio.h>
#include <stdlib.h>
#include <string.h>

static int viaTrace = -1;  // -1: as RAVO_VIA_TRACE says
static char tracePath[MAX_PATH];

bool ViaTrace(void)
{
    if (viaTrace < 0)
        viaTrace = getenv("RAVO_VIA_TRACE") != NULL;
    return viaTrace;
}

static void DropTraceSection(void)
{
    WritePrivateProfileStringA(RAVO_TRACE_SECTION, NULL, NULL, RAVO_PROFILE_FILE);
}

// In the trace run the profile names the trace file (by default the
// program's path + ".trace", begun afresh), whatever a case wrote; the
// section goes when the program ends.
static void KeepTraceSection(void)
{
    if (!ViaTrace())
        return;
    static int dropAtExit = atexit(DropTraceSection);
    (void)dropAtExit;
    if (!tracePath[0]) {
        GetModuleFileNameA(NULL, tracePath, MAX_PATH - 6);
        DeleteFileA(strcat(tracePath, ".trace"));
    }
    WritePrivateProfileStringA(RAVO_TRACE_SECTION, RAVO_KEY_TRACE_FILE, tracePath, RAVO_PROFILE_FILE);
    WritePrivateProfileStringA(RAVO_TRACE_SECTION, RAVO_KEY_TRACE_DATA, "1", RAVO_PROFILE_FILE);
}

bool UseTrace(bool on, const char* traceFile)
{
    bool was = ViaTrace();
    viaTrace = on;
    lstrcpynA(tracePath, traceFile ? traceFile : "", MAX_PATH);
    KeepTraceSection();
    return was;
}

const char* RavoPath(void)
{
    return BuildPath(ViaTrace() ? "viatrace\\ravowsok.dll" : "ravowsok.dll");
}

bool LoadRavo(Ravo* r)
{
    memset(r, 0, sizeof *r);
    KeepTraceSection();
    // The module first: the drop-in then finds it loaded, and intercepted.
    r->module = ViaTrace() ? LoadLibraryA(BuildPath("viatrace\\" RAVO_TRACE_REAL_MODULE)) : NULL;
    r->dll = LoadLibraryA(RavoPath());
    if (!CHECK(r->dll && (r->module || !ViaTrace()), "LoadLibrary(%s) failed: error %lu", RavoPath(), GetLastError()))
        return false;
    if (!r->module)
        r->module = r->dll;
    char problem[512];
    bool ok = CHECK(ResolveRavoExports(r->dll, r, problem, sizeof problem) == 0, "%s: %s", RavoPath(), problem);
    InterceptModule(r->module);
    return ok;
}

void UnloadRavo(Ravo* r)
{
    if (!r->dll)
        return;
    // Interceptors hold no reference; one FreeLibrary balances LoadRavo.
    FreeLibrary(r->dll);
    if (r->module != r->dll)
        FreeLibrary(r->module);
    CHECK(GetModuleHandleA("ravowsok.dll") == NULL, "ravowsok.dll still loaded after FreeLibrary");
    CHECK(GetModuleHandleA(RAVO_TRACE_REAL_MODULE) == NULL, RAVO_TRACE_REAL_MODULE " still loaded after FreeLibrary");
    r->dll = NULL;
    ResetIntercepts();
}

static const unsigned char CONN_PATTERN = 0xA5;

static bool IsModuleField(int offset)
{
    return (offset >= CONN_INTERRUPT_REQUEST && offset < CONN_MOUSE_HOOK + 4) ||
           (offset >= CONN_SOCKOPT_REFUSED && offset < CONN_SOCKOPT_REFUSED + 4);
}

void InitConn(TestConn* conn)
{
    memset(conn->bytes, CONN_PATTERN, sizeof conn->bytes);
    SetConnField(conn, CONN_INTERRUPT_REQUEST, 0);
    SetConnField(conn, CONN_WAIT_CALLBACK, 0);
    SetConnField(conn, CONN_KEYBOARD_HOOK, 0);
    SetConnField(conn, CONN_MOUSE_HOOK, 0);
    SetConnField(conn, CONN_SOCKOPT_REFUSED, 0);
}

LONG ConnField(const TestConn* conn, int offset)
{
    LONG value;
    memcpy(&value, conn->bytes + offset, 4);
    return value;
}

void SetConnField(TestConn* conn, int offset, LONG value)
{
    memcpy(conn->bytes + offset, &value, 4);
}

void SetConnCallback(TestConn* conn, RavoWaitCallback callback)
{
    SetConnField(conn, CONN_WAIT_CALLBACK, (LONG)callback);
}

bool ConnPatternKept(const TestConn* conn)
{
    for (int i = 0; i < CONN_SIZE; i++)
        if (!IsModuleField(i) && conn->bytes[i] != CONN_PATTERN)
            return false;
    return true;
}

static const char* ProfilePath(void)
{
    static char path[MAX_PATH];
    GetWindowsDirectoryA(path, MAX_PATH);
    strcat(path, "\\" RAVO_PROFILE_FILE);
    return path;
}

const char* WriteProfile(const char* environmentLines)
{
    const char* path = ProfilePath();
    if (!environmentLines) {
        RemoveProfile();
        return path;
    }
    std::string text = std::string("[" RAVO_PROFILE_SECTION "]\r\n") + environmentLines + "\r\n";
    CHECK(WriteWholeFile(path, text), "cannot write %s", path);
    KeepTraceSection();
    // The profile reader may cache files; drop the cache so the next read sees this one.
    WritePrivateProfileStringA(NULL, NULL, NULL, RAVO_PROFILE_FILE);
    return path;
}

void RemoveProfile(void)
{
    DeleteFileA(ProfilePath());
    KeepTraceSection();
    WritePrivateProfileStringA(NULL, NULL, NULL, RAVO_PROFILE_FILE);
}
