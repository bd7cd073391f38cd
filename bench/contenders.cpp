// The contenders' connections and their one send and one receive: the
// module's exports (alone, through the tracing drop-in, or a copy of the
// module idling with ravoidle.dll), the hand-written floor, and plain
// blocking calls.
#include "bench.h"
#include "buildpath.h"
#include "exports.h"
#include "loopback.h"
#include <stdio.h>
#include <string.h>

const char* const contenderName[CONTENDER_COUNT] = {"module",     "hand loop", "plain",   "ravotrace",
                                                     "trace on",   "trace data", "ravoidle"};

bool CallsModule(Contender who)
{
    return who == MODULE || who >= VIA_TRACE;
}

// The tracing contenders' folders (a copy of viatrace each, made by the
// build) and their traces, in build/.
static const char* const TRACE_FOLDER[] = {"bench-trace-lines", "bench-trace-data"};
static const char* const TRACE_FILE[] = {"bench-trace-lines.trace", "bench-trace-data.trace"};

// What each contender that calls the module loaded: the module, the drop-in
// or the module's copy.
static HMODULE libraries[CONTENDER_COUNT];
static RavoExports exports[CONTENDER_COUNT];

// Loads one library as a host does and resolves the module's exports.
static HMODULE LoadExports(const char* path, RavoExports* x)
{
    HMODULE dll = LoadLibraryA(path);
    if (!dll) {
        printf("LoadLibrary(%s) failed: error %lu\n", path, GetLastError());
        return NULL;
    }
    char problem[512];
    if (ResolveRavoExports(dll, x, problem, sizeof problem) != 0) {
        printf("%s: %s", path, problem);
        return NULL;
    }
    return dll;
}

// Loads a tracing contender's drop-in with its [Trace] settings; its first
// call reads them, so the section can change for the next one.
static bool LoadTracing(Contender who, const char* data, const char* dataBytes)
{
    int i = who - TRACE_LINES;
    char path[MAX_PATH];
    snprintf(path, sizeof path, "%s\\ravowsok.dll", TRACE_FOLDER[i]);
    DeleteFileA(BuildPath(TRACE_FILE[i]));
    WritePrivateProfileStringA(RAVO_TRACE_SECTION, RAVO_KEY_TRACE_FILE, BuildPath(TRACE_FILE[i]), RAVO_PROFILE_FILE);
    WritePrivateProfileStringA(RAVO_TRACE_SECTION, RAVO_KEY_TRACE_DATA, data, RAVO_PROFILE_FILE);
    WritePrivateProfileStringA(RAVO_TRACE_SECTION, RAVO_KEY_TRACE_DATA_BYTES, dataBytes, RAVO_PROFILE_FILE);
    libraries[who] = LoadExports(BuildPath(path), &exports[who]);
    if (libraries[who])
        exports[who]._nettype();
    WritePrivateProfileStringA(RAVO_TRACE_SECTION, NULL, NULL, RAVO_PROFILE_FILE);
    return libraries[who] != NULL;
}

bool LoadModule(const char* dataBytes)
{
    HMODULE module = libraries[MODULE] = LoadExports(BuildPath("ravowsok.dll"), &exports[MODULE]);
    HMODULE dropIn = libraries[VIA_TRACE] = LoadExports(BuildPath("viatrace\\ravowsok.dll"), &exports[VIA_TRACE]);
    // Two libraries named ravowsok.dll, from two folders: both must be in.
    if (module && dropIn &&
        (dropIn == module || exports[VIA_TRACE]._nettype() != 2 || !GetModuleHandleA(RAVO_TRACE_REAL_MODULE))) {
        printf("build\\viatrace\\ravowsok.dll is not the drop-in in front of %s\n", RAVO_TRACE_REAL_MODULE);
        return false;
    }
    if (!module || !dropIn || !LoadTracing(TRACE_LINES, "0", NULL) || !LoadTracing(TRACE_DATA, "1", dataBytes))
        return false;
    // One more library named ravowsok.dll, with settings of its own.
    HMODULE idleCopy = libraries[IDLE_ROUTINE] =
        CheckIdleRoutine() ? LoadExports(BuildPath("viaidle\\ravowsok.dll"), &exports[IDLE_ROUTINE]) : NULL;
    if (idleCopy == module || idleCopy == dropIn) {
        printf("build\\viaidle\\ravowsok.dll is not a copy of the module of its own\n");
        return false;
    }
    return idleCopy != NULL;
}

void UnloadModule(void)
{
    for (int c = 0; c < CONTENDER_COUNT; c++) {
        if (libraries[c])
            FreeLibrary(libraries[c]);
        libraries[c] = NULL;
    }
    for (const char* trace : TRACE_FILE)
        DeleteFileA(BuildPath(trace));
}

// The exports a module contender calls.
static const RavoExports* ExportsOf(const Link* link)
{
    return &exports[link->who];
}

bool OpenLink(Link* link, Contender who, const char* service, u_short port)
{
    memset(link, 0, sizeof *link);
    link->who = who;
    if (CallsModule(who)) {
        LONG error = 0;
        // The copy reads its settings on its first _netopen: block mode 3.
        if (who == IDLE_ROUTINE)
            UseIdleRoutineProfile();
        LONG s = ExportsOf(link)->_netopen("127.0.0.1", service, 0, 0, &error, 0, link->host);
        if (who == IDLE_ROUTINE)
            RestoreProfile();
        if (s == -1) {
            printf("_netopen(127.0.0.1, %s): expected a socket, seen -1 with error code %ld\n", service, error);
            return false;
        }
        link->s = (SOCKET)s;
        return true;
    }
    link->s = ConnectLoopback(port);
    if (link->s == INVALID_SOCKET) {
        printf("%s: connect to 127.0.0.1:%u failed: WSA error %d\n", contenderName[who], port, WSAGetLastError());
        return false;
    }
    if (who == HAND_LOOP) {
        // Set up as _netopen leaves its sockets (SO_DEBUG may be refused).
        int debugOn = 1;
        setsockopt(link->s, SOL_SOCKET, SO_DEBUG, (const char*)&debugOn, sizeof debugOn);
        u_long nonBlocking = 1;
        if (ioctlsocket(link->s, FIONBIO, &nonBlocking) != 0) {
            printf("hand loop: FIONBIO failed: WSA error %d\n", WSAGetLastError());
            return false;
        }
    }
    return true;
}

void CloseLink(Link* link)
{
    if (link->s == 0 || link->s == INVALID_SOCKET)
        return;
    if (CallsModule(link->who))
        ExportsOf(link)->_netclose((LONG)link->s, 0);
    else
        closesocket(link->s);
    link->s = INVALID_SOCKET;
}

int SendSome(Link* link, const char* data, int length, int* error)
{
    *error = 0;
    if (CallsModule(link->who)) {
        LONG code = 0;
        LONG sent = ExportsOf(link)->_netsend((LONG)link->s, data, length, &code, link->host);
        *error = code;
        return sent;
    }
    switch (link->who) {
    case HAND_LOOP: {
        // The module's _netsend: wait, one send, a full buffer is a send of nothing.
        if ((*error = HandWait(link->s, NET_WAIT_WRITE)) != 0)
            return -1;
        int sent = send(link->s, data, length, 0);
        if (sent != SOCKET_ERROR)
            return sent;
        *error = WSAGetLastError();
        if (*error == WSAEWOULDBLOCK || *error == WSAENOBUFS) {
            *error = 0;
            return 0;
        }
        return -1;
    }
    default: {
        int sent = send(link->s, data, length, 0);
        if (sent == SOCKET_ERROR)
            *error = WSAGetLastError();
        return sent;
    }
    }
}

int ReadSome(Link* link, char* buffer, int size, int* error)
{
    *error = 0;
    if (CallsModule(link->who)) {
        LONG code = 0;
        LONG got = ExportsOf(link)->_netread((LONG)link->s, buffer, size, &code, link->host);
        *error = code;
        return got;
    }
    switch (link->who) {
    case HAND_LOOP: {
        if ((*error = HandWait(link->s, NET_WAIT_READ)) != 0)
            return -1;
        int got = recv(link->s, buffer, size, 0);
        if (got == SOCKET_ERROR)
            *error = WSAGetLastError();
        return got;
    }
    default: {
        int got = recv(link->s, buffer, size, 0);
        if (got == SOCKET_ERROR)
            *error = WSAGetLastError();
        return got;
    }
    }
}
