// Module loading, the host record and the profile file for tests.
#include "ravo.h"
#include "check.h"
#include "intercept.h"
#include <stdio.h>
#include <string.h>

bool LoadRavo(Ravo* r)
{
    memset(r, 0, sizeof *r);
    r->dll = LoadLibraryA(BuildPath("ravowsok.dll"));
    if (!CHECK(r->dll != NULL, "LoadLibrary(%s) failed: error %lu", BuildPath("ravowsok.dll"), GetLastError()))
        return false;
    char problem[512];
    bool ok = CHECK(ResolveRavoExports(r->dll, r, problem, sizeof problem) == 0, "ravowsok.dll: %s", problem);
    InterceptModule(r->dll);
    return ok;
}

void UnloadRavo(Ravo* r)
{
    if (!r->dll)
        return;
    // Interceptors hold no reference; one FreeLibrary balances LoadRavo.
    FreeLibrary(r->dll);
    CHECK(GetModuleHandleA("ravowsok.dll") == NULL, "ravowsok.dll still loaded after FreeLibrary");
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
    strcat(path, "\\quorvane.ini");
    return path;
}

const char* WriteProfile(const char* environmentLines)
{
    const char* path = ProfilePath();
    if (!environmentLines) {
        RemoveProfile();
        return path;
    }
    std::string text = std::string("[Environment]\r\n") + environmentLines + "\r\n";
    CHECK(WriteWholeFile(path, text), "cannot write %s", path);
    // The profile reader may cache files; drop the cache so the next read sees this one.
    WritePrivateProfileStringA(NULL, NULL, NULL, "quorvane.ini");
    return path;
}

void RemoveProfile(void)
{
    DeleteFileA(ProfilePath());
    WritePrivateProfileStringA(NULL, NULL, NULL, "quorvane.ini");
}
